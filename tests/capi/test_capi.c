/* The C interface, compiled as C: values, calls, errors with their place, limits, cancel, host
 * objects (held and hooked) and host statements. Usage: test_capi SCRIPTDIR (holding
 * capi.ztscr). Prints one line per failed check and "N passed, N failed". */
#include <ztscript_c.h>
#include <ztscript_version.h>

#include <stdio.h>
#include <string.h>

static int passed, failed;

static void check(int ok, const char* what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAIL test_capi.c:%d: %s\n", line, what);
    }
}
#define CHECK(x) check((x) != 0, #x, __LINE__)
#define CHECK_STR(a, b) check((a) != NULL && strcmp((a), (b)) == 0, #a " == " #b, __LINE__)

/* A call that must succeed; shows the error chain when it does not. */
static int call_ok(ztscript_context* ctx, const char* code_call, const ztscript_value* const* args, size_t count) {
    size_t i;
    if (ztscript_call(ctx, code_call, args, count) == ZTSCRIPT_OK) return 1;
    for (i = 0; i < ztscript_error_count(ctx); ++i) printf("  %s\n", ztscript_error_message(ctx, i));
    if (ztscript_error_file(ctx))
        printf("  at %s:%u:%u\n", ztscript_error_file(ctx), (unsigned)ztscript_error_line(ctx),
               (unsigned)ztscript_error_column(ctx));
    return 0;
}

/* c_vat(amount [, rate]): amount with VAT; negative amounts fail. */
static int vat(void* user, const ztscript_value* const* args, size_t count, ztscript_value* result) {
    double amount = 0, rate = *(const double*)user;
    if (!ztscript_value_to_double(args[0], &amount)) {
        ztscript_value_set_text(result, "amount is no number");
        return 1;
    }
    if (count > 1) ztscript_value_to_double(args[1], &rate);
    if (amount < 0) {
        ztscript_value_set_text(result, "negative amount");
        return 1;
    }
    ztscript_value_set_double(result, amount * (1 + rate / 100));
    return 0;
}

/* A host record whose field "count" lives in the host's own struct. */
struct record {
    int count;
    int destroyed;
};

static int get_field(void* user, const char* name, ztscript_value* out) {
    struct record* r = (struct record*)user;
    if (strcmp(name, "count") != 0) return 0;
    ztscript_value_set_int(out, r->count);
    return 1;
}

static int set_field(void* user, const char* name, const ztscript_value* value) {
    struct record* r = (struct record*)user;
    int32_t n = 0;
    if (strcmp(name, "count") != 0) return 0;
    if (!ztscript_value_to_int(value, &n)) return -1;
    r->count = n;
    return 1;
}

static void destroy(void* user) { ((struct record*)user)->destroyed++; }

int main(int argc, char** argv) {
    static const double rate = 20;
    int major = -1, minor = -1, patch = -1;
    ztscript_context* ctx;
    ztscript_value* arg;
    ztscript_value* text;
    ztscript_object* inv;
    const char* id = NULL;
    int severity = -1;
    double total = 0;
    int32_t n = 0;

    if (argc != 2) {
        fprintf(stderr, "usage: test_capi SCRIPTDIR\n");
        return 2;
    }

    CHECK_STR(ztscript_version(&major, &minor, &patch), ZTSCRIPT_VERSION);
    CHECK(major == ZTSCRIPT_VERSION_MAJOR && minor == ZTSCRIPT_VERSION_MINOR && patch == ZTSCRIPT_VERSION_PATCH);

    /* Values */
    text = ztscript_value_new();
    CHECK_STR(ztscript_value_type(text), "void");
    CHECK_STR(ztscript_value_text(text), "");
    ztscript_value_set_text(text, "42");
    CHECK_STR(ztscript_value_type(text), "string");
    CHECK(ztscript_value_to_int(text, &n) && n == 42);
    ztscript_value_set_text(text, "x\xc3\xa4");
    CHECK(!ztscript_value_to_int(text, &n));
    CHECK_STR(ztscript_value_text(text), "x\xc3\xa4");
    ztscript_value_set_double(text, 2.5);
    CHECK_STR(ztscript_value_type(text), "double");
    CHECK_STR(ztscript_value_text(text), "2.5");
    ztscript_value_set_bool(text, 1);
    CHECK_STR(ztscript_value_text(text), "true");

    CHECK(ztscript_register_statement("C_Vat", 1, 2, vat, (void*)&rate) == ZTSCRIPT_OK);
    CHECK(ztscript_register_statement("bad(", 0, 0, vat, NULL) == ZTSCRIPT_INVALID);
    CHECK(ztscript_register_statement("x", 2, 1, vat, NULL) == ZTSCRIPT_INVALID);

    /* A call with an argument, and with the parameter's default */
    ctx = ztscript_context_new(argv[1]);
    arg = ztscript_value_new();
    ztscript_value_set_text(arg, "C");
    {
        const ztscript_value* args[] = {arg};
        CHECK(call_ok(ctx, "script$capi$greet", args, 1));
        CHECK_STR(ztscript_value_text(ztscript_result(ctx)), "Hello, C!");
        CHECK(ztscript_error_count(ctx) == 0);
    }
    CHECK(call_ok(ctx, "script$capi$greet", NULL, 0));
    CHECK_STR(ztscript_value_text(ztscript_result(ctx)), "Hello, world!");

    /* Global variables stay for the context's later calls, and only for its own */
    {
        const ztscript_value* args[] = {arg};
        ztscript_context* other = ztscript_context_new(argv[1]);
        CHECK(call_ok(ctx, "script$capi$remember", args, 1));
        CHECK(call_ok(ctx, "script$capi$recall", NULL, 0));
        CHECK_STR(ztscript_value_text(ztscript_result(ctx)), "C");
        CHECK(ztscript_call(other, "script$capi$recall", NULL, 0) == ZTSCRIPT_FAILED);
        ztscript_context_free(other);
    }

    /* A host object with its own fields, a host statement, a label and a message */
    inv = ztscript_object_new(NULL, NULL);
    ztscript_value_set_double(text, 100);
    CHECK(ztscript_object_set_field(inv, "amount", text));
    ztscript_value_set_text(text, "ACME");
    CHECK(ztscript_object_set_field(inv, "customer", text));
    ztscript_value_set_int(text, 0);
    CHECK(ztscript_object_set_field(inv, "items", text));
    ztscript_value_set_object(arg, inv);
    CHECK_STR(ztscript_value_type(arg), "unknownptr");
    CHECK(ztscript_value_object(arg) == inv);
    {
        const ztscript_value* args[] = {arg};
        CHECK(call_ok(ctx, "script$capi$check", args, 1));
    }
    CHECK(ztscript_value_to_double(ztscript_result(ctx), &total) && total == 120);
    CHECK(ztscript_object_get_field(inv, "items", text));
    CHECK_STR(ztscript_value_text(text), "3");
    CHECK_STR(ztscript_object_label(inv, "amount"), "Net amount");
    CHECK_STR(ztscript_object_label(inv, "items"), "items");
    CHECK(ztscript_object_message_count(inv) == 1);
    CHECK_STR(ztscript_object_message(inv, 0, &id, &severity), "Large order of ACME");
    CHECK_STR(id, "BIG");
    CHECK(severity == 1);
    CHECK(ztscript_object_message(inv, 1, NULL, NULL) == NULL);
    ztscript_value_clear(arg);
    ztscript_object_free(inv);

    /* Hooks keep a field in the host's struct; destroy comes with the last reference */
    {
        struct record rec = {41, 0};
        ztscript_object_hooks hooks = {get_field, set_field, destroy};
        ztscript_object* o = ztscript_object_new(&hooks, &rec);
        const ztscript_value* args[] = {arg};
        CHECK(ztscript_object_user(o) == &rec);
        ztscript_value_set_object(arg, o);
        ztscript_object_free(o);
        CHECK(rec.destroyed == 0); /* arg still refers to it */
        CHECK(call_ok(ctx, "script$capi$hooked", args, 1));
        CHECK_STR(ztscript_value_text(ztscript_result(ctx)), "42");
        CHECK(rec.count == 42);
        ztscript_value_clear(arg);
        CHECK(rec.destroyed == 1);
    }

    /* A failing host statement: the chain, its detail and the place */
    CHECK(ztscript_call(ctx, "script$capi$failing", NULL, 0) == ZTSCRIPT_FAILED);
    CHECK(ztscript_error_count(ctx) == 3);
    CHECK_STR(ztscript_error_message(ctx, 0), "Error executing script \"failing\"");
    CHECK_STR(ztscript_error_message(ctx, 2), "Error executing script \"c_vat(\"-5\")\" (negative amount)");
    CHECK(ztscript_error_message(ctx, 3) == NULL);
    CHECK(ztscript_error_file(ctx) != NULL && strstr(ztscript_error_file(ctx), "capi.ztscr") != NULL);
    CHECK(ztscript_error_line(ctx) == 16 && ztscript_error_column(ctx) == 3);
    CHECK(ztscript_error_limit(ctx) == ZTSCRIPT_LIMIT_NONE);
    CHECK(ztscript_error_user_message(ctx) == NULL);
    CHECK_STR(ztscript_value_type(ztscript_result(ctx)), "void");

    /* Wrong number of arguments: the script cannot be built, the report says why */
    CHECK(ztscript_call(ctx, "script$capi$badcount", NULL, 0) == ZTSCRIPT_FAILED);
    CHECK(ztscript_error_count(ctx) == 2);
    CHECK_STR(ztscript_error_message(ctx, 0), "the script could not be built");
    CHECK_STR(ztscript_error_message(ctx, 1), "c_vat: takes 1 to 2 arguments, not 0");
    CHECK(ztscript_error_line(ctx) == 18);

    /* Limits and cancel */
    ztscript_set_max_steps(ctx, 1000);
    CHECK(ztscript_call(ctx, "script$capi$spin", NULL, 0) == ZTSCRIPT_FAILED);
    CHECK(ztscript_error_limit(ctx) == ZTSCRIPT_LIMIT_STEPS);
    CHECK_STR(ztscript_error_message(ctx, ztscript_error_count(ctx) - 1),
              "The call was stopped: it reached its limit of 1000 executed statements");
    CHECK(ztscript_error_line(ctx) > 0);
    /* A step limit far away stays as a backstop: a broken limit fails the check, it does not hang. */
    ztscript_set_max_steps(ctx, 50000000);
    ztscript_set_timeout_ms(ctx, 50);
    CHECK(ztscript_call(ctx, "script$capi$spin", NULL, 0) == ZTSCRIPT_FAILED);
    CHECK(ztscript_error_limit(ctx) == ZTSCRIPT_LIMIT_TIME);
    ztscript_set_timeout_ms(ctx, 0);
    ztscript_cancel(ctx);
    CHECK(ztscript_call(ctx, "script$capi$spin", NULL, 0) == ZTSCRIPT_FAILED);
    CHECK(ztscript_error_limit(ctx) == ZTSCRIPT_LIMIT_CANCELLED);
    CHECK(call_ok(ctx, "script$capi$greet", NULL, 0)); /* the request was used up */
    ztscript_set_max_steps(ctx, 0);

    /* A message for the user, malformed and dll calls, invalid arguments */
    CHECK(ztscript_call(ctx, "script$capi$usermessage", NULL, 0) == ZTSCRIPT_FAILED);
    CHECK_STR(ztscript_error_user_message(ctx), "Please save first");
    CHECK(ztscript_call(ctx, "script$capi", NULL, 0) == ZTSCRIPT_FAILED);
    CHECK_STR(ztscript_error_message(ctx, 0), "Malformed code call \"script$capi\": expected script$FILE$FUNCTION");
    CHECK(ztscript_call(ctx, "script$capi_nosuchfile$f", NULL, 0) == ZTSCRIPT_FAILED);
    CHECK(strstr(ztscript_error_message(ctx, 0), "File capi_nosuchfile not found! Looked for: ") != NULL);
    CHECK(ztscript_call(ctx, "dll$lib$entry", NULL, 0) == ZTSCRIPT_NOT_RUN);
    CHECK(ztscript_call(NULL, "script$capi$greet", NULL, 0) == ZTSCRIPT_INVALID);
    CHECK(ztscript_call(ctx, NULL, NULL, 0) == ZTSCRIPT_INVALID);
    CHECK(ztscript_call(ctx, "script$capi$greet", NULL, 1) == ZTSCRIPT_INVALID);

    ztscript_value_free(arg);
    ztscript_value_free(text);
    ztscript_context_free(ctx);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
