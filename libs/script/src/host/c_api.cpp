// The C interface (ztscript_c.h) over the C++ one. No exception leaves these functions.
#include "ztscript_c.h"

#include "ztstatements.h"
#include "zthostobject.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>

using namespace zt::script;

struct ztscript_value {
    zt::genericValue value;
    // The texts handed out, kept until the value changes.
    mutable std::string type;
    mutable std::string text;

    void changed() {
        type.clear();
        text.clear();
    }
};

struct ztscript_object final : hostObject {
    ztscript_object_hooks hooks{};
    void* user = nullptr;
    std::string labelText;
    std::vector<std::string> messageTexts, messageIds; // of messages(), filled when asked

    bool readField(const zt::string& name, zt::genericValue& out) override {
        if (hooks.get_field) {
            ztscript_value v;
            const int handled = hooks.get_field(user, name.toUtf8().c_str(), &v);
            if (handled > 0) {
                out = std::move(v.value);
                return true;
            }
            if (handled < 0) return false;
        }
        return hostObject::readField(name, out);
    }
    bool writeField(const zt::string& name, const zt::genericValue& value) override {
        if (hooks.set_field) {
            ztscript_value v{value, {}, {}};
            const int handled = hooks.set_field(user, name.toUtf8().c_str(), &v);
            if (handled != 0) return handled > 0;
        }
        return hostObject::writeField(name, value);
    }
    bool hasField(const zt::string& name) override {
        zt::genericValue probe;
        return readField(name, probe);
    }

private:
    ~ztscript_object() override {
        if (hooks.destroy) hooks.destroy(user);
    }
};

namespace {

// The record of one failed call, in the form the C interface hands out.
struct failure {
    std::vector<std::string> messages;
    std::string file;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    int limit = ZTSCRIPT_LIMIT_NONE;
    bool userMessage = false;
    std::string userText;
};

// Assertion reports made on this thread while a C call runs belong to that call's errors.
thread_local std::vector<std::string>* tCallReports = nullptr;

void captureReports() {
    static std::once_flag once;
    std::call_once(once, [] {
        static zt::assertReporter previous;
        previous = zt::setAssertReporter([](const zt::string& text) {
            if (tCallReports) {
                tCallReports->push_back(text.toUtf8());
            } else if (previous) {
                previous(text);
            } else {
                const std::string line = "assertion: " + text.toUtf8() + "\n";
                std::fwrite(line.data(), 1, line.size(), stderr);
            }
        });
    });
}

int limitCode(executionLimitException::limit which) {
    switch (which) {
    case executionLimitException::limit::steps: return ZTSCRIPT_LIMIT_STEPS;
    case executionLimitException::limit::time: return ZTSCRIPT_LIMIT_TIME;
    case executionLimitException::limit::cancelled: return ZTSCRIPT_LIMIT_CANCELLED;
    case executionLimitException::limit::memory: return ZTSCRIPT_LIMIT_MEMORY;
    }
    return ZTSCRIPT_LIMIT_NONE;
}

void setPosition(failure& f, const sourcePosition& where) {
    if (!where.known()) return;
    f.file = where.file.toUtf8();
    f.line = where.line;
    f.column = where.column;
}

failure describe(const std::exception_ptr& error, const std::vector<std::string>& reports) {
    failure f;
    try {
        std::rethrow_exception(error);
    } catch (const zt::exception& e) {
        for (const zt::exception* p = &e; p; p = p->inner()) {
            f.messages.push_back(p->text().toUtf8());
            if (auto* limit = dynamic_cast<const executionLimitException*>(p)) f.limit = limitCode(limit->which());
            if (auto* message = dynamic_cast<const scriptMessageException*>(p)) {
                f.userMessage = true;
                f.userText = message->userMessage().toUtf8();
            }
        }
        if (const sourcePosition* where = innermostPosition(e)) setPosition(f, *where);
    } catch (bool) {
        f.messages.push_back("the script could not be built");
        setPosition(f, lastParseFailurePosition());
    } catch (const std::exception& e) {
        f.messages.push_back(e.what());
    } catch (...) {
        f.messages.push_back("unknown failure");
    }
    f.messages.insert(f.messages.end(), reports.begin(), reports.end());
    return f;
}

zt::string text(const char* utf8) { return zt::string::fromUtf8(utf8 ? utf8 : ""); }

} // namespace

struct ztscript_context {
    zt::string basePath;
    // Holds the global variables; each call gets a context of its own that shares them, so that
    // nothing of a call (its arguments, objects among them) stays behind.
    scriptcontext globals;
    ztscript_value result;
    failure error;
    std::uint64_t maxSteps = 0;
    std::uint64_t timeoutMs = 0;
    std::uint64_t maxMemory = 0;
    std::atomic<bool> cancel{false};
};

extern "C" {

const char* ztscript_version(int* major, int* minor, int* patch) {
    const versionInfo& v = version();
    if (major) *major = v.majorVersion;
    if (minor) *minor = v.minorVersion;
    if (patch) *patch = v.patchVersion;
    return v.text;
}

// ---- Values

ztscript_value* ztscript_value_new(void) {
    try {
        return new ztscript_value;
    } catch (...) {
        return nullptr;
    }
}

void ztscript_value_free(ztscript_value* value) { delete value; }

void ztscript_value_clear(ztscript_value* value) {
    if (!value) return;
    value->value.clear();
    value->changed();
}

void ztscript_value_set_text(ztscript_value* value, const char* utf8) {
    if (!value) return;
    try {
        value->value.replace(text(utf8));
    } catch (...) {
        value->value.clear();
    }
    value->changed();
}

void ztscript_value_set_int(ztscript_value* value, int32_t number) {
    if (!value) return;
    try {
        value->value.replace(static_cast<int>(number));
    } catch (...) {
        value->value.clear();
    }
    value->changed();
}

void ztscript_value_set_double(ztscript_value* value, double number) {
    if (!value) return;
    try {
        value->value.replace(number);
    } catch (...) {
        value->value.clear();
    }
    value->changed();
}

void ztscript_value_set_bool(ztscript_value* value, int flag) {
    if (!value) return;
    try {
        value->value.replace(flag != 0);
    } catch (...) {
        value->value.clear();
    }
    value->changed();
}

void ztscript_value_set_object(ztscript_value* value, ztscript_object* object) {
    if (!value) return;
    try {
        if (object) value->value = object->value();
        else value->value.clear();
    } catch (...) {
        value->value.clear();
    }
    value->changed();
}

const char* ztscript_value_type(const ztscript_value* value) {
    if (!value) return "void";
    try {
        value->type = scriptTypeNameOf(value->value).toUtf8();
        return value->type.c_str();
    } catch (...) {
        return "void";
    }
}

const char* ztscript_value_text(const ztscript_value* value) {
    if (!value) return nullptr;
    try {
        zt::string shown;
        if (!value->value.isEmpty() && !valueToDisplayText(value->value, shown)) return nullptr;
        value->text = shown.toUtf8();
        return value->text.c_str();
    } catch (...) {
        return nullptr;
    }
}

int ztscript_value_to_int(const ztscript_value* value, int32_t* out) {
    if (!value || !out) return 0;
    try {
        int n = 0;
        if (!value->value.get(n)) return 0;
        *out = n;
        return 1;
    } catch (...) {
        return 0;
    }
}

int ztscript_value_to_double(const ztscript_value* value, double* out) {
    if (!value || !out) return 0;
    try {
        double d = 0;
        if (!value->value.get(d)) return 0;
        *out = d;
        return 1;
    } catch (...) {
        return 0;
    }
}

ztscript_object* ztscript_value_object(const ztscript_value* value) {
    return value ? hostObjectOf<ztscript_object>(value->value) : nullptr;
}

// ---- Contexts and calls

ztscript_context* ztscript_context_new(const char* base_path) {
    try {
        auto* c = new ztscript_context;
        c->basePath = text(base_path);
        // The set of global variables comes with the first one (each call sets this one anew).
        c->globals.setGlobalContextVariable(scriptcontext::scriptbasepath(), zt::genericValue::of(c->basePath));
        return c;
    } catch (...) {
        return nullptr;
    }
}

void ztscript_context_free(ztscript_context* context) { delete context; }

int ztscript_call(ztscript_context* context, const char* code_call, const ztscript_value* const* args, size_t count) {
    if (!context || !code_call || (count > 0 && !args)) return ZTSCRIPT_INVALID;
    context->error = failure();
    context->result.value.clear();
    context->result.changed();
    captureReports();
    std::vector<std::string> reports;
    tCallReports = &reports;
    int outcome = ZTSCRIPT_OK;
    try {
        std::vector<zt::genericValue> values;
        values.reserve(count);
        for (size_t i = 0; i < count; ++i) values.push_back(args[i] ? args[i]->value : zt::genericValue());
        executionLimits limits;
        limits.maxSteps = context->maxSteps;
        limits.maxMemory = context->maxMemory;
        limits.cancel = &context->cancel;
        if (context->timeoutMs)
            limits.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(context->timeoutMs);
        scriptcontext call;
        context->globals.initScriptContext(call);
        call.setLimits(limits);
        if (!codeManager::instance()->executeFunction(context->basePath, text(code_call), call, values,
                                                      context->result.value))
            outcome = ZTSCRIPT_NOT_RUN;
    } catch (...) {
        context->result.value.clear();
        try {
            context->error = describe(std::current_exception(), reports);
        } catch (...) {
            context->error = failure();
        }
        outcome = ZTSCRIPT_FAILED;
    }
    tCallReports = nullptr;
    context->cancel.store(false);
    return outcome;
}

const ztscript_value* ztscript_result(const ztscript_context* context) { return context ? &context->result : nullptr; }

void ztscript_set_max_steps(ztscript_context* context, uint64_t statements) {
    if (context) context->maxSteps = statements;
}

void ztscript_set_timeout_ms(ztscript_context* context, uint64_t milliseconds) {
    if (context) context->timeoutMs = milliseconds;
}

void ztscript_set_max_memory(ztscript_context* context, uint64_t bytes) {
    if (context) context->maxMemory = bytes;
}

void ztscript_cancel(ztscript_context* context) {
    if (context) context->cancel.store(true);
}

size_t ztscript_error_count(const ztscript_context* context) { return context ? context->error.messages.size() : 0; }

const char* ztscript_error_message(const ztscript_context* context, size_t index) {
    if (!context || index >= context->error.messages.size()) return nullptr;
    return context->error.messages[index].c_str();
}

const char* ztscript_error_file(const ztscript_context* context) {
    return context && context->error.line != 0 ? context->error.file.c_str() : nullptr;
}

uint32_t ztscript_error_line(const ztscript_context* context) { return context ? context->error.line : 0; }

uint32_t ztscript_error_column(const ztscript_context* context) { return context ? context->error.column : 0; }

int ztscript_error_limit(const ztscript_context* context) { return context ? context->error.limit : ZTSCRIPT_LIMIT_NONE; }

const char* ztscript_error_user_message(const ztscript_context* context) {
    return context && context->error.userMessage ? context->error.userText.c_str() : nullptr;
}

// ---- Host objects

ztscript_object* ztscript_object_new(const ztscript_object_hooks* hooks, void* user) {
    try {
        auto* o = new ztscript_object;
        if (hooks) o->hooks = *hooks;
        o->user = user;
        o->addRef(); // the caller's
        return o;
    } catch (...) {
        return nullptr;
    }
}

void ztscript_object_free(ztscript_object* object) {
    if (object) object->release();
}

void* ztscript_object_user(const ztscript_object* object) { return object ? object->user : nullptr; }

int ztscript_object_set_field(ztscript_object* object, const char* name, const ztscript_value* value) {
    if (!object || !name) return 0;
    try {
        return object->writeField(text(name), value ? value->value : zt::genericValue()) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int ztscript_object_get_field(ztscript_object* object, const char* name, ztscript_value* out) {
    if (!object || !name || !out) return 0;
    try {
        zt::genericValue v;
        if (!object->readField(text(name), v)) return 0;
        out->value = std::move(v);
        out->changed();
        return 1;
    } catch (...) {
        return 0;
    }
}

const char* ztscript_object_label(ztscript_object* object, const char* field) {
    if (!object || !field) return nullptr;
    try {
        object->labelText = object->label(text(field)).toUtf8();
        return object->labelText.c_str();
    } catch (...) {
        return nullptr;
    }
}

size_t ztscript_object_message_count(const ztscript_object* object) { return object ? object->messages().size() : 0; }

const char* ztscript_object_message(ztscript_object* object, size_t index, const char** id, int* severity) {
    if (!object || index >= object->messages().size()) return nullptr;
    try {
        // The texts of every message, so that earlier pointers stay valid while they do not change.
        const auto& messages = object->messages();
        object->messageTexts.resize(messages.size());
        object->messageIds.resize(messages.size());
        object->messageTexts[index] = messages[index].text.text().toUtf8();
        object->messageIds[index] = messages[index].id.toUtf8();
        if (id) *id = object->messageIds[index].c_str();
        if (severity) *severity = messages[index].severity;
        return object->messageTexts[index].c_str();
    } catch (...) {
        return nullptr;
    }
}

} // extern "C"

// ---- Host statements

namespace {

struct registeredStatement {
    zt::string keyword;
    size_t minArgs, maxArgs;
    ztscript_statement_fn function;
    void* user;
};

// Registrations are never removed: statements parsed earlier keep pointing at theirs.
std::mutex gStatementsMutex;
std::deque<registeredStatement> gStatements;

const registeredStatement* findStatement(const zt::string& keyword) {
    std::lock_guard<std::mutex> guard(gStatementsMutex);
    for (auto it = gStatements.rbegin(); it != gStatements.rend(); ++it)
        if (it->keyword == keyword) return &*it;
    return nullptr;
}

class hostCStatement : public scriptbasestatement {
public:
    const registeredStatement* mpEntry = nullptr;
    std::vector<clonePtr<valueProvider>> mArgs;

    statement* clone() const override { return new hostCStatement(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        std::vector<ztscript_value> values(mArgs.size());
        std::vector<const ztscript_value*> pointers;
        for (size_t i = 0; i < mArgs.size(); ++i) {
            if (!mArgs[i]->getValue(context, values[i].value))
                execError(this, u"Error retrieving argument %d", static_cast<int>(i + 1));
            pointers.push_back(&values[i]);
        }
        ztscript_value out;
        if (mpEntry->function(mpEntry->user, pointers.data(), pointers.size(), &out) != 0) {
            zt::string detail;
            if (!out.value.isEmpty()) out.value.get(detail);
            execError(this, detail.empty() ? zt::string(u"the host statement failed") : detail);
        }
        if (!out.value.isEmpty()) result = std::move(out.value);
    }

private:
    [[noreturn]] static void execError(const statement* st, const zt::string& detail) {
        statement::execError(st, u"%s", detail);
    }
    template <class... A>
    [[noreturn]] static void execError(const statement* st, const char16_t* format, const A&... args) {
        statement::execError(st, format, args...);
    }
};

statement* dispatchC(const zt::string& keyword, const std::vector<zt::string>&, const std::vector<zt::string>& params,
                     int flags) {
    const registeredStatement* entry = findStatement(keyword);
    if (!entry) return nullptr;
    // An empty argument list "f()" arrives as one empty text.
    std::vector<zt::string> args = params;
    if (args.size() == 1) {
        zt::string only = args[0];
        if (only.trim().empty()) args.clear();
    }
    if (args.size() < entry->minArgs || args.size() > entry->maxArgs)
        rejectStatement(u"%s: takes %d to %d arguments, not %d", keyword, static_cast<int>(entry->minArgs),
                        static_cast<int>(entry->maxArgs), static_cast<int>(args.size()));
    clonePtr<hostCStatement> st(allocateStatement<hostCStatement>(u"ztscript_c", __LINE__));
    st->mpEntry = entry;
    for (const zt::string& a : args)
        st->mArgs.emplace_back(providerFor(a, flags, u"error parsing argument %s"));
    return st.release();
}

scriptModule gCModule(&dispatchC);

} // namespace

extern "C" int ztscript_register_statement(const char* keyword, size_t min_args, size_t max_args,
                                           ztscript_statement_fn function, void* user) {
    if (!keyword || !function || min_args > max_args) return ZTSCRIPT_INVALID;
    try {
        zt::string name = text(keyword);
        name.deleteAll(u" \t\r\n").toLower();
        if (name.empty() || name.find_first_of(u"()<>,;{}\"$") != zt::string::npos) return ZTSCRIPT_INVALID;
        {
            std::lock_guard<std::mutex> guard(gStatementsMutex);
            gStatements.push_back(registeredStatement{name, min_args, max_args, function, user});
        }
        static std::once_flag registered;
        std::call_once(registered, [] { gCModule.registerModule(); });
        return ZTSCRIPT_OK;
    } catch (...) {
        return ZTSCRIPT_INVALID;
    }
}
