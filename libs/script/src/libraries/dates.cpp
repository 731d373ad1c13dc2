// Date statements: today's date, parts of a date, date texts, and the date arithmetic that the
// operators "add" and "subtract" hand over for the type "date".
#include "builtin_libraries.h"

#include <limits>
#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptdate", line);
}

using zt::script::providerFrom;

using zt::script::evaluateAs;

// ---------------------------------------------------------------------------------------------

class staticDate : public scriptbasestatement {
public:
    using source = zt::date (*)();

    static statement* createFrom(source fn) {
        staticDate* st = allocateStatement<staticDate>(__LINE__);
        st->mpSource = fn;
        return st;
    }
    statement* clone() const override { return new staticDate(*this); }
    void execute(codecontext&, genericValue& result) const override {
        if (!result.set(mpSource())) execError(this, u"unable to store the date in the result");
    }

private:
    source mpSource = nullptr;
};

class infoOfDate : public scriptbasestatement {
public:
    enum eKind { year, month, dayOfMonth, weekOfYear, dayOfYear, dayOfWeek };

    static statement* createFrom(eKind kind, const std::vector<zt::string>& params, int flags) {
        if (params.empty()) {
            zt::assertMsg(u"infoOfDate::createFrom: number of parameters < 1");
            throw false;
        }
        clonePtr<infoOfDate> st(allocateStatement<infoOfDate>(__LINE__));
        st->mKind = kind;
        st->mpDate.reset(providerFrom(params[0], flags, u"infoOfDate::createFrom: error parsing \"%s\""));
        return st.release();
    }
    statement* clone() const override { return new infoOfDate(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::date d;
        if (!evaluateAs(mpDate, context, d)) execError(this, u"Missing or invalid date-provider");
        int value = 0;
        switch (mKind) {
        case year: value = d.year(); break;
        case month: value = d.month(); break;
        case dayOfMonth: value = d.dayOfMonth(); break;
        case weekOfYear: value = d.weekOfYear(); break;
        case dayOfYear: value = d.dayOfYear(); break;
        case dayOfWeek: value = d.dayOfWeek() + 1; break;
        }
        result.replace(value);
    }

private:
    eKind mKind = year;
    clonePtr<valueProvider> mpDate;
};

class dateAsString : public scriptbasestatement {
public:
    enum eKind { databaseForm, localForm };

    static statement* createFrom(eKind kind, const std::vector<zt::string>& params, int flags) {
        if (params.empty()) {
            zt::assertMsg(u"dateAsString::createFrom: number of parameters < 1");
            throw false;
        }
        clonePtr<dateAsString> st(allocateStatement<dateAsString>(__LINE__));
        st->mKind = kind;
        st->mpDate.reset(providerFrom(params[0], flags, u"dateAsString::createFrom: error parsing \"%s\""));
        return st.release();
    }
    statement* clone() const override { return new dateAsString(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        zt::date d;
        if (!evaluateAs(mpDate, context, d)) execError(this, u"Missing or invalid date-provider");
        const zt::string y = zt::dtconvert(d.year(), 4);
        const zt::string m = zt::dtconvert(d.month(), 2);
        const zt::string day = zt::dtconvert(d.dayOfMonth(), 2);
        zt::string text;
        if (mKind == databaseForm)
            text = u"'" + y + u"-" + m + u"-" + day + u"'";
        else
            text = day + u"." + m + u"." + y;
        result.replace(std::move(text));
    }

private:
    eKind mKind = databaseForm;
    clonePtr<valueProvider> mpDate;
};

class dateCalculation : public scriptbasestatement {
public:
    enum eUnit { unitYears = 1, unitMonths = 2, unitWeeks = 3, unitDays = 4, unitWorkdays = 5 };

    static statement* createFrom(const std::vector<zt::string>& types, const std::vector<zt::string>& params,
                                 int flags, modules::dateOperation operation) {
        if (params.size() < 2) {
            zt::assertMsg(u"dateCalculation::createFrom: number of parameters < 2");
            throw false;
        }
        if (types.size() < 2) {
            zt::assertMsg(u"dateCalculation::createFrom: missing second datatype");
            throw false;
        }
        static const char16_t* const kParseError = u"dateCalculation::createFrom: error parsing \"%s\"";
        const zt::string unitName = types[1].lower();
        eUnit unit;
        if (unitName == u"years") unit = unitYears;
        else if (unitName == u"months") unit = unitMonths;
        else if (unitName == u"weeks") unit = unitWeeks;
        else if (unitName == u"days") unit = unitDays;
        else if (unitName == u"workdays") unit = unitWorkdays;
        else {
            zt::assertMsg(kParseError, types[1]);
            throw false;
        }
        clonePtr<dateCalculation> st(allocateStatement<dateCalculation>(__LINE__));
        st->mOperation = operation;
        st->mUnit = unit;
        st->mpDate.reset(providerFrom(params[0], flags, kParseError));
        st->mpQuantity.reset(providerFrom(params[1], flags, kParseError));
        if (params.size() >= 3) st->mpThird.reset(providerFrom(params[2], flags, kParseError));
        return st.release();
    }
    statement* clone() const override { return new dateCalculation(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        int quantity = 0;
        if (!evaluateAs(mpQuantity, context, quantity)) execError(this, u"unable to retrieve quantity");
        if (mUnit == unitWorkdays) execError(this, u"unsupported calctype");
        zt::date d;
        if (!evaluateAs(mpDate, context, d)) execError(this, u"unable to retrieve date");
        if (mOperation == modules::dateOperation::subtract) {
            // Negating the smallest int would overflow; one unit more or less is out of range anyway.
            quantity = quantity == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -quantity;
        }
        try {
            switch (mUnit) {
            case unitYears: d += zt::years(quantity); break;
            case unitMonths: d += zt::months(quantity); break;
            case unitWeeks: d += zt::weeks(quantity); break;
            case unitDays: d += zt::days(quantity); break;
            case unitWorkdays: break;
            }
        } catch (const zt::dateTimeException&) {
            execError(this, u"date out of range");
        }
        result.replace(d);
    }

private:
    modules::dateOperation mOperation = modules::dateOperation::add;
    eUnit mUnit = unitDays;
    clonePtr<valueProvider> mpDate;
    clonePtr<valueProvider> mpQuantity;
    clonePtr<valueProvider> mpThird; // accepted for compatibility, never evaluated
};

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"today", factory<&staticDate::createFrom, &zt::date::today>},
    {u"tarvineinidate", factory<&staticDate::createFrom, &zt::date::tarvineIniDate>},
    {u"date_year", factory<&infoOfDate::createFrom, infoOfDate::year>},
    {u"date_month", factory<&infoOfDate::createFrom, infoOfDate::month>},
    {u"date_dayofmonth", factory<&infoOfDate::createFrom, infoOfDate::dayOfMonth>},
    {u"date_weekofyear", factory<&infoOfDate::createFrom, infoOfDate::weekOfYear>},
    {u"date_dayofyear", factory<&infoOfDate::createFrom, infoOfDate::dayOfYear>},
    {u"date_dayofweek", factory<&infoOfDate::createFrom, infoOfDate::dayOfWeek>},
    {u"date_assybasedate", factory<&dateAsString::createFrom, dateAsString::databaseForm>},
    {u"date_aslocalestring", factory<&dateAsString::createFrom, dateAsString::localForm>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

// The script type names of the date and time values.
struct typeNameRegistrar {
    typeNameRegistrar() {
        registerScriptTypeName(typeid(zt::date), u"date");
        registerScriptTypeName(typeid(zt::time), u"time");
        registerScriptTypeName(typeid(zt::timestamp), u"timestamp");
    }
} gTypeNameRegistrar;

} // namespace

statement* modules::createDateCalculation(const std::vector<zt::string>& types, const std::vector<zt::string>& params,
                                          int flags, dateOperation operation) {
    return dateCalculation::createFrom(types, params, flags, operation);
}

scriptModule modules::dateModule(&dispatch);

} // namespace zt::script
