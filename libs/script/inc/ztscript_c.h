/* ztScript's C interface: for hosts built with any compiler, and for other languages through
 * their foreign-function interfaces.
 *
 * Plain C: opaque handles, UTF-8 texts (const char*, NUL-terminated), integer result codes; no
 * C++ type and no exception crosses it. Link with the engine library (pkg-config ztscript, or
 * the CMake target ztscript::ztscript).
 *
 * Ownership, in short: what a ztscript_..._new function returns belongs to the caller, who
 * gives it back with the matching ..._free. Every const char* and const ztscript_value* the
 * interface returns belongs to the handle it came from: the caller neither frees nor keeps it,
 * and each function says how long it stays valid. Texts passed in are copied.
 *
 * Threads: a context is used by one thread at a time; several threads call at once through
 * contexts of their own. ztscript_cancel may be called from any thread. Values and objects
 * are not synchronised: one thread at a time uses each.
 *
 *     ztscript_context* ctx = ztscript_context_new("/path/to/scripts");
 *     ztscript_value* arg = ztscript_value_new();
 *     ztscript_value_set_text(arg, "everyone");
 *     if (ztscript_call(ctx, "script$hello$greet", (const ztscript_value* const[]){arg}, 1) == ZTSCRIPT_OK)
 *         printf("%s\n", ztscript_value_text(ztscript_result(ctx)));
 *     else
 *         printf("%s:%u: %s\n", ztscript_error_file(ctx), ztscript_error_line(ctx),
 *                ztscript_error_message(ctx, ztscript_error_count(ctx) - 1));
 *     ztscript_value_free(arg);
 *     ztscript_context_free(ctx);
 */
#ifndef ZTSCRIPT_C_H
#define ZTSCRIPT_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(ZTSCRIPT_BUILD)
#    define ZTSCRIPT_C_API __declspec(dllexport)
#  else
#    define ZTSCRIPT_C_API __declspec(dllimport)
#  endif
#else
#  define ZTSCRIPT_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of ztscript_call and the functions that can fail. */
#define ZTSCRIPT_OK 0
#define ZTSCRIPT_FAILED 1  /* the call failed: see ztscript_error_... */
#define ZTSCRIPT_NOT_RUN 2 /* a "dll$..." code call: calls into libraries are not supported */
#define ZTSCRIPT_INVALID 3 /* a null handle or text where one is needed, or a keyword without letters */

/* Which execution limit stopped a call (ztscript_error_limit). */
#define ZTSCRIPT_LIMIT_NONE 0
#define ZTSCRIPT_LIMIT_STEPS 1
#define ZTSCRIPT_LIMIT_TIME 2
#define ZTSCRIPT_LIMIT_CANCELLED 3
#define ZTSCRIPT_LIMIT_MEMORY 4

typedef struct ztscript_context ztscript_context; /* one caller's calls: limits, result, errors */
typedef struct ztscript_value ztscript_value;     /* a script value: argument or result */
typedef struct ztscript_object ztscript_object;   /* a host object that scripts see */

/* The library's version text ("0.1.0"), a static text; major, minor and patch receive the
 * numbers unless null. */
ZTSCRIPT_C_API const char* ztscript_version(int* major, int* minor, int* patch);

/* ---- Values ---------------------------------------------------------------------------- */

/* A new empty value; the caller frees it with ztscript_value_free. Null when out of memory. */
ZTSCRIPT_C_API ztscript_value* ztscript_value_new(void);
ZTSCRIPT_C_API void ztscript_value_free(ztscript_value* value);

/* Replace the content (and its type). Null values are ignored; a null text sets "". */
ZTSCRIPT_C_API void ztscript_value_clear(ztscript_value* value);
ZTSCRIPT_C_API void ztscript_value_set_text(ztscript_value* value, const char* utf8);
ZTSCRIPT_C_API void ztscript_value_set_int(ztscript_value* value, int32_t number);
ZTSCRIPT_C_API void ztscript_value_set_double(ztscript_value* value, double number);
ZTSCRIPT_C_API void ztscript_value_set_bool(ztscript_value* value, int flag);
/* An object reference; the value holds a reference of its own (a null object: none). */
ZTSCRIPT_C_API void ztscript_value_set_object(ztscript_value* value, ztscript_object* object);

/* The script type name: "void" (empty), "string", "int", "double", "bool", "unknownptr"
 * (object), "array", ... Owned by the value; valid until the value changes or is freed. */
ZTSCRIPT_C_API const char* ztscript_value_type(const ztscript_value* value);
/* The text form ("" for an empty value; arrays as "[a, b]"); null when the value has none.
 * Owned by the value; valid until the value changes or is freed. */
ZTSCRIPT_C_API const char* ztscript_value_text(const ztscript_value* value);
/* The value converted; 1 on success, 0 (out unchanged) when it does not convert. */
ZTSCRIPT_C_API int ztscript_value_to_int(const ztscript_value* value, int32_t* out);
ZTSCRIPT_C_API int ztscript_value_to_double(const ztscript_value* value, double* out);
/* The object of this interface that the value refers to, or null. Borrowed: valid while the
 * value holds it. */
ZTSCRIPT_C_API ztscript_object* ztscript_value_object(const ztscript_value* value);

/* ---- Contexts and calls ---------------------------------------------------------------- */

/* A new context whose calls look for script files in base_path (may be null or "": then as
 * written, beside the program and in the current folder). The caller frees it with
 * ztscript_context_free. Global variables that scripts set stay for the context's later calls. */
ZTSCRIPT_C_API ztscript_context* ztscript_context_new(const char* base_path);
ZTSCRIPT_C_API void ztscript_context_free(ztscript_context* context);

/* Runs the function that code_call ("script$FILE$FUNCTION") names with count arguments (args
 * may be null when count is 0; a null entry passes an empty value, so the parameter's default
 * applies). Returns ZTSCRIPT_OK, ZTSCRIPT_FAILED, ZTSCRIPT_NOT_RUN or ZTSCRIPT_INVALID. */
ZTSCRIPT_C_API int ztscript_call(ztscript_context* context, const char* code_call, const ztscript_value* const* args,
                                 size_t count);
/* The value the last call returned (empty when none, or when it failed). Owned by the context;
 * valid until its next call or ztscript_context_free. */
ZTSCRIPT_C_API const ztscript_value* ztscript_result(const ztscript_context* context);

/* Limits of the context's later calls (0: none). The timeout counts from the start of each call.
 * A limit that is hit ends the call with ZTSCRIPT_FAILED and ztscript_error_limit tells which. */
ZTSCRIPT_C_API void ztscript_set_max_steps(ztscript_context* context, uint64_t statements);
ZTSCRIPT_C_API void ztscript_set_timeout_ms(ztscript_context* context, uint64_t milliseconds);
ZTSCRIPT_C_API void ztscript_set_max_memory(ztscript_context* context, uint64_t bytes);
/* Stops the context's running call between two statements; callable from any thread. When no
 * call runs, the next one stops at once. Each call clears the request when it returns. */
ZTSCRIPT_C_API void ztscript_cancel(ztscript_context* context);

/* The errors of the last failed call, outermost first: the function, then each statement it
 * passed through, the cause last (for a script that could not be built: that message, then
 * the reports of the statements that refused their arguments). 0 after a call that succeeded.
 * Each text is owned by the context; valid until its next call or ztscript_context_free. */
ZTSCRIPT_C_API size_t ztscript_error_count(const ztscript_context* context);
ZTSCRIPT_C_API const char* ztscript_error_message(const ztscript_context* context, size_t index);
/* Where the failure happened: the innermost statement whose place is known. The file is null
 * (and line and column 0) when no place is known; owned like the messages. */
ZTSCRIPT_C_API const char* ztscript_error_file(const ztscript_context* context);
ZTSCRIPT_C_API uint32_t ztscript_error_line(const ztscript_context* context);
ZTSCRIPT_C_API uint32_t ztscript_error_column(const ztscript_context* context);
/* ZTSCRIPT_LIMIT_... of the limit that stopped the last call; ZTSCRIPT_LIMIT_NONE otherwise. */
ZTSCRIPT_C_API int ztscript_error_limit(const ztscript_context* context);
/* The text of the script's throwmessage("...") that ended the last call, meant for the user;
 * null when it ended otherwise. Owned like the messages. */
ZTSCRIPT_C_API const char* ztscript_error_user_message(const ztscript_context* context);

/* ---- Host objects ---------------------------------------------------------------------- */

/* Optional hooks that keep an object's fields in the host's own data. Every member may be
 * null. get_field writes the field into out and returns 1, returns 0 when the name is not one
 * of its fields (the object's own fields are then used), -1 when the field cannot be read.
 * set_field returns 1 when it stored the value, 0 when the name is not its field, -1 when it
 * refuses the value. destroy is called once, when the last reference to the object goes. */
typedef struct ztscript_object_hooks {
    int (*get_field)(void* user, const char* name, ztscript_value* out);
    int (*set_field)(void* user, const char* name, const ztscript_value* value);
    void (*destroy)(void* user);
} ztscript_object_hooks;

/* A new host object: scripts read and write its fields (obj_get, obj_set), labels and states,
 * messages, relations and transient data. Fields are held by the object itself unless hooks
 * take them. hooks may be null and are copied; user is passed to them. The caller owns one
 * reference and gives it back with ztscript_object_free; values that refer to the object keep
 * it alive after that. */
ZTSCRIPT_C_API ztscript_object* ztscript_object_new(const ztscript_object_hooks* hooks, void* user);
ZTSCRIPT_C_API void ztscript_object_free(ztscript_object* object);
ZTSCRIPT_C_API void* ztscript_object_user(const ztscript_object* object);

/* Sets a field held by the object (through set_field when it takes the name); returns 1 on
 * success. Reads a field into out; returns 1 when there is one. */
ZTSCRIPT_C_API int ztscript_object_set_field(ztscript_object* object, const char* name, const ztscript_value* value);
ZTSCRIPT_C_API int ztscript_object_get_field(ztscript_object* object, const char* name, ztscript_value* out);
/* The field's label (the one a script set, else the name); owned by the object, valid until
 * the next ztscript_object_label on it or its end. */
ZTSCRIPT_C_API const char* ztscript_object_label(ztscript_object* object, const char* field);
/* The messages scripts attached, in order. ztscript_object_message returns the text of message
 * index (null past the end) and its id and severity (2 error, 1 warning, 0 information) where
 * id and severity are not null; the texts are owned by the object, valid until its messages
 * change or it ends. */
ZTSCRIPT_C_API size_t ztscript_object_message_count(const ztscript_object* object);
ZTSCRIPT_C_API const char* ztscript_object_message(ztscript_object* object, size_t index, const char** id,
                                                   int* severity);

/* ---- Host statements ------------------------------------------------------------------- */

/* A keyword of the host. The engine evaluates the count arguments (types written as
 * "keyword<type>" are ignored) and calls the function with them; it writes its value, if any,
 * into result and returns 0, or returns non-zero to fail the statement, with the text it left
 * in result as the error's detail. args and result are the engine's, valid during the call. */
typedef int (*ztscript_statement_fn)(void* user, const ztscript_value* const* args, size_t count,
                                     ztscript_value* result);

/* Registers keyword (compared without regard to case) with between min_args and max_args
 * arguments; a script that passes another number cannot be built. Registering a keyword again
 * replaces it for scripts parsed later. A keyword that a built-in statement library knows never
 * reaches the host. Register before scripts that use the keyword are first called. */
ZTSCRIPT_C_API int ztscript_register_statement(const char* keyword, size_t min_args, size_t max_args,
                                               ztscript_statement_fn function, void* user);

#ifdef __cplusplus
}
#endif

#endif /* ZTSCRIPT_C_H */
