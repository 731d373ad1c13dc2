// Time statements: fixed times of day and the parts of a time.
#include "builtin_libraries.h"

#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscripttime", line);
}

class staticTime : public scriptbasestatement {
public:
    using source = zt::time (*)();

    static statement* createFrom(source fn) {
        staticTime* st = allocateStatement<staticTime>(__LINE__);
        st->mpSource = fn;
        return st;
    }
    statement* clone() const override { return new staticTime(*this); }
    void execute(codecontext&, genericValue& result) const override {
        if (!result.set(mpSource())) execError(this, u"unable to store the time in the result");
    }

private:
    source mpSource = nullptr;
};

class infoOfTime : public scriptbasestatement {
public:
    enum eKind { hour, minute, second, minuteOfDay, secondOfDay };

    static statement* createFrom(eKind kind, const std::vector<zt::string>& params, int flags) {
        if (params.empty()) {
            zt::assertMsg(u"infoOfTime::createFrom: number of parameters < 1");
            throw false;
        }
        clonePtr<infoOfTime> st(allocateStatement<infoOfTime>(__LINE__));
        st->mKind = kind;
        valueProvider* p = nullptr;
        try {
            p = valueProvider::createFrom(params[0], flags);
        } catch (const zt::exception&) {
            p = nullptr;
        }
        if (!p) {
            zt::assertMsg(u"infoOfTime::createFrom: error parsing \"%s\"", params[0]);
            throw false;
        }
        st->mpTime.reset(p);
        return st.release();
    }
    statement* clone() const override { return new infoOfTime(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::time t;
        bool ok = false;
        if (mpTime) {
            genericValue value;
            try {
                ok = mpTime->getValue(context, value) && value.get(t);
            } catch (bool) {
                ok = false;
            }
        }
        if (!ok) execError(this, u"Missing or invalid time-provider");
        int v = 0;
        switch (mKind) {
        case hour: v = t.hour(); break;
        case minute: v = t.minute(); break;
        case second: v = t.second(); break;
        case minuteOfDay: v = t.minuteOfDay(); break;
        case secondOfDay: v = t.secondOfDay(); break;
        }
        result.replace(v);
    }

private:
    eKind mKind = hour;
    clonePtr<valueProvider> mpTime;
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"daystart", factory<&staticTime::createFrom, &zt::time::daystart>},
    {u"lunchtime", factory<&staticTime::createFrom, &zt::time::lunchtime>},
    {u"midnight", factory<&staticTime::createFrom, &zt::time::midnight>},
    {u"time_hour", factory<&infoOfTime::createFrom, infoOfTime::hour>},
    {u"time_minute", factory<&infoOfTime::createFrom, infoOfTime::minute>},
    {u"time_second", factory<&infoOfTime::createFrom, infoOfTime::second>},
    {u"time_minuteofday", factory<&infoOfTime::createFrom, infoOfTime::minuteOfDay>},
    {u"time_secondofday", factory<&infoOfTime::createFrom, infoOfTime::secondOfDay>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::timeModule(&dispatch);

} // namespace zt::script
