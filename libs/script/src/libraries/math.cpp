// Statements on mathematics: trigonometry in degrees or radians, tolerant comparison of doubles,
// remainder and square root.
#include "builtin_libraries.h"

#include <ztmath.h>

#include <cmath>
#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptmath", line);
}

using zt::script::providerFrom;

using zt::script::evaluateAs;

using mathFunction = double (*)(double);

// True for the type "deg": the angle is in degrees; any other type means radians.
bool inDegrees(const std::vector<zt::string>& types) { return types.front().lower() == u"deg"; }

// sin, cos, tan of an angle in degrees or radians.
class anglefunc : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& types, const std::vector<zt::string>& params,
                                 int flags, mathFunction fn) {
        if (types.empty()) {
            zt::assertMsg(u"anglefunc::createFrom: missing datatype");
            throw false;
        }
        if (params.empty()) {
            zt::assertMsg(u"anglefunc::createFrom: number of parameters < 1");
            throw false;
        }
        clonePtr<anglefunc> st(allocateStatement<anglefunc>(__LINE__));
        st->mMaker = inDegrees(types) ? &zt::angle::fromDegree : &zt::angle::fromRadians;
        st->mFunction = fn;
        st->mpAngle.reset(providerFrom(params[0], flags, u"anglefunc::createFrom: error parsing \"%s\""));
        return st.release();
    }
    statement* clone() const override { return new anglefunc(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        double value = 0;
        if (!evaluateAs<double>(mpAngle, context, value)) execError(this, u"Angle not given");
        result.replace(mFunction(mMaker(value).radians()));
    }

private:
    clonePtr<valueProvider> mpAngle;
    zt::angle (*mMaker)(double) = &zt::angle::fromRadians;
    mathFunction mFunction = nullptr;
};

// asin, acos, atan giving an angle in degrees or radians.
class angleinvfunc : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& types, const std::vector<zt::string>& params,
                                 int flags, mathFunction fn) {
        if (types.empty()) {
            zt::assertMsg(u"angleinvfunc::createFrom: missing datatype");
            throw false;
        }
        if (params.empty()) {
            zt::assertMsg(u"angleinvfunc::createFrom: number of parameters < 1");
            throw false;
        }
        clonePtr<angleinvfunc> st(allocateStatement<angleinvfunc>(__LINE__));
        st->mDegrees = inDegrees(types);
        st->mFunction = fn;
        st->mpValue.reset(providerFrom(params[0], flags, u"angleinvfunc::createFrom: error parsing \"%s\""));
        return st.release();
    }
    statement* clone() const override { return new angleinvfunc(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        double value = 0;
        if (!evaluateAs<double>(mpValue, context, value)) execError(this, u"Value not given");
        const zt::angle a = zt::angle::fromRadians(mFunction(value));
        result.replace(mDegrees ? a.degree() : a.radians());
    }

private:
    clonePtr<valueProvider> mpValue;
    bool mDegrees = false;
    mathFunction mFunction = nullptr;
};

// Base of the named-parameter statements: reading a parameter as double.
class mathFunctionStatement : public scriptbasesinglefunction {
protected:
    bool number(const char16_t* name, codecontext& context, double& out) const {
        genericValue value;
        return getParamValue(name, context, value) && value.get(out);
    }
};

class dbleq : public mathFunctionStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        clonePtr<dbleq> st(allocateStatement<dbleq>(__LINE__));
        st->parse(u"dbleq", params, flags, u"val1", true, u"val2", true, u"tol", true, nullptr);
        return st.release();
    }
    statement* clone() const override { return new dbleq(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        double a = 0, b = 0, tolerance = 0;
        if (!number(u"val1", context, a)) execError(this, u"Error retrieving value1");
        if (!number(u"val2", context, b)) execError(this, u"Error retrieving value2");
        if (!number(u"tol", context, tolerance)) execError(this, u"Error retrieving tolerance");
        result.replace(zt::dblEq(a, b, tolerance));
    }
};

class mod : public mathFunctionStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        clonePtr<mod> st(allocateStatement<mod>(__LINE__));
        st->parse(u"mod", params, flags, u"val1", true, u"val2", true, nullptr);
        return st.release();
    }
    statement* clone() const override { return new mod(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        double a = 0, b = 0;
        if (!number(u"val1", context, a)) execError(this, u"Error retrieving value1");
        if (!number(u"val2", context, b)) execError(this, u"Error retrieving value2");
        result.replace(std::fmod(a, b));
    }
};

class sqrt : public mathFunctionStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        clonePtr<sqrt> st(allocateStatement<sqrt>(__LINE__));
        st->parse(u"sqrt", params, flags, u"val", true, nullptr);
        return st.release();
    }
    statement* clone() const override { return new sqrt(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        double value = 0;
        if (!number(u"val", context, value)) execError(this, u"Error retrieving value");
        result.replace(std::sqrt(value));
    }
};

double sine(double x) { return std::sin(x); }
double cosine(double x) { return std::cos(x); }
double tangent(double x) { return std::tan(x); }
double arcSine(double x) { return std::asin(x); }
double arcCosine(double x) { return std::acos(x); }
double arcTangent(double x) { return std::atan(x); }

// A table factory of a trigonometric statement: F with the function it applies.
template <auto F, auto Function>
statement* angleFactory(const modules::argumentTexts& types, const modules::argumentTexts& params, int flags) {
    return F(types, params, flags, Function);
}

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"sin", angleFactory<&anglefunc::createFrom, &sine>},
    {u"asin", angleFactory<&angleinvfunc::createFrom, &arcSine>},
    {u"cos", angleFactory<&anglefunc::createFrom, &cosine>},
    {u"acos", angleFactory<&angleinvfunc::createFrom, &arcCosine>},
    {u"tan", angleFactory<&anglefunc::createFrom, &tangent>},
    {u"atan", angleFactory<&angleinvfunc::createFrom, &arcTangent>},
    {u"dbleq", factory<&dbleq::createFrom>},
    {u"mod", factory<&mod::createFrom>},
    {u"sqrt", factory<&sqrt::createFrom>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::mathModule(&dispatch);

} // namespace zt::script
