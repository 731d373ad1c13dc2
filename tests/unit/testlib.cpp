#include "testlib.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace testlib {

std::atomic<int> executions{0};
std::function<void(codecontext&, const genericValue&)> hostHook;

namespace {

struct valueStatement : scriptbasestatement {
    zt::string keyword;
    scString name;
    clonePtr<valueProvider> value;
    statement* clone() const override { return new valueStatement(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        genericValue v;
        if (value && !value->getValue(context, v)) execError(this, u"error retrieving value");
        if (keyword == u"tret") {
            context.setParameter(scriptcontext::returnparam(), v);
        } else if (keyword == u"techo") {
            result = v;
        } else if (keyword == u"tfail") {
            zt::string text;
            v.get(text);
            execError(this, u"failed %s", text);
        } else if (keyword == u"tthrow") {
            zt::string text;
            v.get(text);
            throw text;
        } else if (keyword == u"tset") {
            if (!context.setVariable(name, v)) context.createVariable(name, v);
            result = v;
        } else if (keyword == u"tsig") {
            context.setScriptSignal(name, genericValue());
        } else if (keyword == u"tcount") {
            ++executions;
        } else if (keyword == u"thost") {
            if (hostHook) hostHook(context, v);
        }
    }
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    if (keyword == u"tcap") {
        auto* c = new capture;
        c->keyword = keyword;
        c->types = types;
        c->args = params;
        return c;
    }
    static const std::vector<zt::string> named{u"tset", u"tsig"};
    static const std::vector<zt::string> valued{u"tret", u"techo", u"tfail", u"tthrow", u"tcount", u"thost"};
    bool isNamed = std::find(named.begin(), named.end(), keyword) != named.end();
    bool isValued = std::find(valued.begin(), valued.end(), keyword) != valued.end();
    if (!isNamed && !isValued) return nullptr;
    clonePtr<valueStatement> st(new valueStatement);
    st->keyword = keyword;
    size_t valueIndex = 0;
    if (isNamed) {
        if (params.empty()) throw false;
        zt::string n = params[0];
        n.deleteAll(u" \t").toLower();
        st->name = scString(n);
        valueIndex = 1;
    }
    if (params.size() > valueIndex) st->value.reset(valueProvider::createFrom(params[valueIndex], flags));
    return st.release();
}

scriptModule gModule(&dispatch);

} // namespace

void install() { gModule.registerModule(); }

assertCollector::assertCollector() {
    previous = zt::setAssertReporter([this](const zt::string& text) { reports.push_back(text.toUtf8()); });
}
assertCollector::~assertCollector() { zt::setAssertReporter(previous); }

std::string chainText(const zt::exception& e) {
    std::string out;
    for (const zt::exception* p = &e; p; p = p->inner()) {
        if (!out.empty()) out += "\n";
        out += p->text().toUtf8();
    }
    return out;
}

void runInto(const zt::string& text, codecontext& context, zt::genericValue& result) {
    clonePtr<statement> st(statement::createFrom(text, 0));
    if (!st) throw std::runtime_error("no statement: " + text.toUtf8());
    st->exec(context, result);
}

zt::genericValue run(const zt::string& text, codecontext& context) {
    zt::genericValue result;
    runInto(text, context, result);
    return result;
}

std::string shown(const zt::genericValue& value) {
    zt::string text;
    valueToDisplayText(value, text);
    return scriptTypeNameOf(value).toUtf8() + ": " + text.toUtf8();
}

std::string runError(const zt::string& text, codecontext& context) {
    try {
        run(text, context);
    } catch (const zt::exception& e) {
        return chainText(e);
    }
    return "";
}

zt::genericValue callFunction(const std::string& folder, const std::string& file, const std::string& function,
                              scriptcontext& context, std::vector<zt::genericValue> args) {
    zt::genericValue result;
    codeManager::instance()->executeFunction(zt::string::fromUtf8(folder),
                                             zt::string::fromUtf8("script$" + file + "$" + function), context, args,
                                             result);
    return result;
}

tempDir::tempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path() / ("zt_unit_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(base);
    path = base.string() + static_cast<char>(std::filesystem::path::preferred_separator);
}

tempDir::~tempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void tempDir::write(const std::string& name, const std::string& content) const {
    const std::filesystem::path file = pathOf(path + name);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

} // namespace testlib
