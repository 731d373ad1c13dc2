// The operators library: arithmetic, comparison, rounding and logic as statements, such as
// add<int>(x, "1"), isbigger<date>(d1, d2), round<double>(x, "2") or and(a, b, c).
//
// An operator's first type name chooses the operand type; both operands are read as that type
// (converted from whatever they hold) and the result is written with set, so a result value that
// already holds a type keeps it. Integer arithmetic wraps around in two's complement; integer
// division truncates toward zero, and dividing by zero or the smallest negative value by -1 is
// an execution error.
#include "builtin_libraries.h"
#include "operands.h"

#include <ztinterfaces.h>
#include <ztmath.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <type_traits>

namespace zt {

namespace {

// Integer types other than bool compute in the unsigned type of their promoted width, so that
// overflow wraps instead of being undefined.
template <class R>
constexpr bool isInteger = std::is_integral_v<R> && !std::is_same_v<R, bool>;

template <class R>
using wideUnsigned = std::make_unsigned_t<decltype(R{} + R{})>;

// Texts compare by their 16-bit code units as unsigned numbers.
inline bool lessThan(const zt::string& a, const zt::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
        return static_cast<std::uint16_t>(x) < static_cast<std::uint16_t>(y);
    });
}
template <class T>
bool lessThan(const T& a, const T& b) {
    return a < b;
}

template <class A, class B, class R>
struct binaryFunctor {
    using first_type = A;
    using second_type = B;
    using result_type = R;
};

template <class A, class B, class R>
struct addfunc : binaryFunctor<A, B, R> {
    R operator()(const A& a, const B& b) const {
        using T = rep_t<R>;
        if constexpr (isInteger<T>) {
            using U = wideUnsigned<T>;
            return R(static_cast<T>(static_cast<U>(static_cast<T>(a)) + static_cast<U>(static_cast<T>(b))));
        } else {
            return R(a + b); // numbers, or the concatenation of texts
        }
    }
};

template <class A, class B, class R>
struct subtractfunc : binaryFunctor<A, B, R> {
    R operator()(const A& a, const B& b) const {
        using T = rep_t<R>;
        if constexpr (isInteger<T>) {
            using U = wideUnsigned<T>;
            return R(static_cast<T>(static_cast<U>(static_cast<T>(a)) - static_cast<U>(static_cast<T>(b))));
        } else {
            return R(a - b);
        }
    }
};

template <class A, class B, class R>
struct multiplyfunc : binaryFunctor<A, B, R> {
    R operator()(const A& a, const B& b) const {
        using T = rep_t<R>;
        if constexpr (isInteger<T>) {
            using U = wideUnsigned<T>;
            return R(static_cast<T>(static_cast<U>(static_cast<T>(a)) * static_cast<U>(static_cast<T>(b))));
        } else {
            return R(a * b);
        }
    }
};

template <class A, class B, class R>
struct dividefunc : binaryFunctor<A, B, R> {
    R operator()(const A& a, const B& b) const {
        using T = rep_t<R>;
        if constexpr (isInteger<T>) {
            const T x = static_cast<T>(a);
            const T y = static_cast<T>(b);
            // An undefined quotient fails the statement without a detail text.
            if (y == 0) throw false;
            if constexpr (std::is_signed_v<T>)
                if (x == std::numeric_limits<T>::min() && y == T(-1)) throw false;
            return R(static_cast<T>(x / y)); // truncates toward zero
        } else {
            return R(a / b);
        }
    }
};

template <class T>
struct maxoffunc : binaryFunctor<T, T, T> {
    T operator()(const T& a, const T& b) const { return lessThan(a, b) ? b : a; }
};

template <class T>
struct minoffunc : binaryFunctor<T, T, T> {
    T operator()(const T& a, const T& b) const { return lessThan(b, a) ? b : a; }
};

template <class T>
struct bitandfunc : binaryFunctor<T, T, T> {
    T operator()(const T& a, const T& b) const { return T(static_cast<rep_t<T>>(rep_t<T>(a) & rep_t<T>(b))); }
};

template <class T>
struct bitorfunc : binaryFunctor<T, T, T> {
    T operator()(const T& a, const T& b) const { return T(static_cast<rep_t<T>>(rep_t<T>(a) | rep_t<T>(b))); }
};

template <class T, class R>
struct roundfunc : binaryFunctor<T, int, R> {
    R operator()(const T& a, int digits) const { return R(roundImp(a, digits)); }
};

template <class T, class R>
struct cutofffunc : binaryFunctor<T, int, R> {
    R operator()(const T& a, int digits) const { return R(cutOffImp(a, digits)); }
};

template <class A, class B>
struct eqfunc : binaryFunctor<A, B, bool> {
    bool operator()(const A& a, const B& b) const { return a == b; }
};

template <class A, class B>
struct neqfunc : binaryFunctor<A, B, bool> {
    bool operator()(const A& a, const B& b) const { return !(a == b); }
};

template <class A, class B>
struct smfunc : binaryFunctor<A, B, bool> {
    bool operator()(const A& a, const B& b) const { return lessThan(a, b); }
};

template <class A, class B>
struct smeqfunc : binaryFunctor<A, B, bool> {
    bool operator()(const A& a, const B& b) const { return lessThan(a, b) || a == b; }
};

template <class A, class B>
struct gtfunc : binaryFunctor<A, B, bool> {
    bool operator()(const A& a, const B& b) const { return !lessThan(a, b) && !(a == b); }
};

template <class A, class B>
struct gteqfunc : binaryFunctor<A, B, bool> {
    bool operator()(const A& a, const B& b) const { return !lessThan(a, b) || a == b; }
};

template <class T, class R>
struct unaryFunctor {
    using argument_type = T;
    using result_type = R;
};

template <class T, class R>
struct minusfunc : unaryFunctor<T, R> {
    R operator()(const T& a) const {
        using V = rep_t<T>;
        if constexpr (isInteger<V>) {
            using U = wideUnsigned<V>;
            return R(static_cast<V>(U(0) - static_cast<U>(static_cast<V>(a))));
        } else {
            return R(-a);
        }
    }
};

template <class T, class R>
struct absfunc : unaryFunctor<T, R> {
    R operator()(const T& a) const {
        using V = rep_t<T>;
        const V v = static_cast<V>(a);
        if constexpr (isInteger<V>) {
            using U = wideUnsigned<V>;
            // The smallest negative value has no positive counterpart and stays as it is.
            return R(v < 0 ? static_cast<V>(U(0) - static_cast<U>(v)) : v);
        } else {
            return R(std::fabs(v));
        }
    }
};

struct notfunc : unaryFunctor<bool, bool> {
    bool operator()(bool a) const { return !a; }
};

} // namespace

} // namespace zt

// Host object references compare by the identity of their interface pointers; two references
// that designate no object are equal.
namespace {

using unknownptr = zt::intrface::interfaceptr<zt::intrface::unknown>;

struct eqfuncIfPointer {
    using first_type = unknownptr;
    using second_type = unknownptr;
    using result_type = bool;
    bool operator()(const unknownptr& a, const unknownptr& b) const { return a.get() == b.get(); }
};

struct neqfuncIfPointer {
    using first_type = unknownptr;
    using second_type = unknownptr;
    using result_type = bool;
    bool operator()(const unknownptr& a, const unknownptr& b) const { return !eqfuncIfPointer()(a, b); }
};

} // namespace

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptops", line, u"pStmt");
}

using zt::script::providerFor;
using modules::deliveredOperand;
using modules::deliversWithoutEffects;
using modules::operandSource;

// -------------------------------------------------------------------------------------------

template <class F>
class binaryoperation : public scriptbasestatement {
public:
    using A = typename F::first_type;
    using B = typename F::second_type;
    using R = typename F::result_type;

    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        clonePtr<binaryoperation> st(allocateStatement<binaryoperation>(__LINE__));
        const char16_t* message = u"binaryoperation::createFrom: error parsing %s";
        if (params.size() >= 1) st->mFirst.reset(providerFor(params[0], flags, message));
        if (params.size() >= 2) st->mSecond.reset(providerFor(params[1], flags, message));
        st->mFirstSource.prepare(st->mFirst.get(), deliversWithoutEffects(st->mSecond.get()));
        st->mSecondSource.prepare(st->mSecond.get(), true);
        return st.release();
    }

    statement* clone() const override { return new binaryoperation(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        if (!mFirst) execError(this, u"error retrieving first operand (1)");
        if (!mSecond) execError(this, u"error retrieving second operand (1)");
        // Both operands are delivered before either is read as its type: a reference delivered
        // first sees what delivering the second one changed.
        deliveredOperand<A> first;
        if (!first.deliver(mFirstSource, *mFirst, context)) execError(this, u"error retrieving first operand (2)");
        deliveredOperand<B> second;
        if (!second.deliver(mSecondSource, *mSecond, context)) execError(this, u"error retrieving second operand (2)");
        // Operands that cannot be read as the operation's type, and results that do not fit
        // the type result already holds, fail without a detail text.
        A a{};
        B b{};
        if (!first.as(a) || !second.as(b)) throw false;
        if (!result.set(mFunction(a, b))) throw false;
    }

private:
    F mFunction;
    clonePtr<valueProvider> mFirst;
    clonePtr<valueProvider> mSecond;
    operandSource<A> mFirstSource;
    operandSource<B> mSecondSource;
};

template <class F>
class unaryoperation : public scriptbasestatement {
public:
    using T = typename F::argument_type;

    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        clonePtr<unaryoperation> st(allocateStatement<unaryoperation>(__LINE__));
        if (!params.empty())
            st->mOperand.reset(providerFor(params[0], flags, u"unaryoperation::createFrom: error parsing %s"));
        st->mSource.prepare(st->mOperand.get(), true);
        return st.release();
    }

    statement* clone() const override { return new unaryoperation(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        if (!mOperand) execError(this, u"error retrieving operand (1)");
        deliveredOperand<T> operand;
        if (!operand.deliver(mSource, *mOperand, context)) execError(this, u"error retrieving operand (2)");
        T a{};
        if (!operand.as(a)) throw false;
        if (!result.set(mFunction(a))) throw false;
    }

private:
    F mFunction;
    operandSource<T> mSource;
    clonePtr<valueProvider> mOperand;
};

// and / or: the operands are evaluated in order until one of them equals Decisive, which is
// then the result; the rest are not evaluated. With no decisive operand the result is the
// opposite of Decisive.
template <bool Decisive>
class logicaloperation : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        const char16_t* parseMessage =
            Decisive ? u"or::createFrom: error parsing %s" : u"and::createFrom: error parsing %s";
        const char16_t* countMessage = Decisive ? u"or::createFrom: invalid number of parameters"
                                                : u"and::createFrom: invalid number of parameters";
        clonePtr<logicaloperation> st(allocateStatement<logicaloperation>(__LINE__));
        st->mOperands.reserve(params.size());
        for (const zt::string& text : params) st->mOperands.emplace_back(providerFor(text, flags, parseMessage));
        if (st->mOperands.size() < 2) {
            zt::assertMsg(countMessage);
            throw false;
        }
        return st.release();
    }

    statement* clone() const override { return new logicaloperation(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        for (const auto& operand : mOperands) {
            if (!operand) execError(this, u"error retrieving operand (1)");
            genericValue value;
            if (!operand->getValue(context, value)) execError(this, u"error retrieving operand (2)");
            bool condition = false;
            if (!value.get(condition)) execError(this, u"unable to convert condition to bool");
            if (condition == Decisive) {
                result.replace(Decisive);
                return;
            }
        }
        result.replace(!Decisive);
    }

private:
    std::vector<clonePtr<valueProvider>> mOperands;
};

using _and = logicaloperation<false>;
using _or = logicaloperation<true>;

// -------------------------------------------------------------------------------------------
// Type selection

using params_t = std::vector<zt::string>;

// The functor of an operation for operand type T.
template <class T>
using add_t = addfunc<T, T, T>;
template <class T>
using subtract_t = subtractfunc<T, T, T>;
template <class T>
using multiply_t = multiplyfunc<T, T, T>;
template <class T>
using divide_t = dividefunc<T, T, T>;
template <class T>
using round_t = roundfunc<T, T>;
template <class T>
using cutoff_t = cutofffunc<T, T>;
template <class T>
using eq_t = eqfunc<T, T>;
template <class T>
using neq_t = neqfunc<T, T>;
template <class T>
using sm_t = smfunc<T, T>;
template <class T>
using smeq_t = smeqfunc<T, T>;
template <class T>
using gt_t = gtfunc<T, T>;
template <class T>
using gteq_t = gteqfunc<T, T>;
template <class T>
using minus_t = minusfunc<T, T>;
template <class T>
using abs_t = absfunc<T, T>;

template <template <class> class Op>
statement* integers(eScriptType type, const params_t& params, int flags) {
    switch (type) {
    case stShort: return binaryoperation<Op<short>>::createFrom(params, flags);
    case stUShort: return binaryoperation<Op<unsigned short>>::createFrom(params, flags);
    case stInt: return binaryoperation<Op<int>>::createFrom(params, flags);
    case stUInt: return binaryoperation<Op<unsigned int>>::createFrom(params, flags);
    case stLong: return binaryoperation<Op<zt::slong>>::createFrom(params, flags);
    case stULong: return binaryoperation<Op<zt::ulong>>::createFrom(params, flags);
    default: return nullptr;
    }
}

template <template <class> class Op>
statement* reals(eScriptType type, const params_t& params, int flags) {
    switch (type) {
    case stFloat: return binaryoperation<Op<float>>::createFrom(params, flags);
    case stDouble: return binaryoperation<Op<double>>::createFrom(params, flags);
    default: return nullptr;
    }
}

template <template <class> class Op>
statement* numbers(eScriptType type, const params_t& params, int flags) {
    if (statement* st = integers<Op>(type, params, flags)) return st;
    return reals<Op>(type, params, flags);
}

// Numbers, texts, dates, times and timestamps: the types with an order.
template <template <class> class Op>
statement* ordered(eScriptType type, const params_t& params, int flags) {
    switch (type) {
    case stString: return binaryoperation<Op<zt::string>>::createFrom(params, flags);
    case stDate: return binaryoperation<Op<zt::date>>::createFrom(params, flags);
    case stTime: return binaryoperation<Op<zt::time>>::createFrom(params, flags);
    case stTimestamp: return binaryoperation<Op<zt::timestamp>>::createFrom(params, flags);
    default: return numbers<Op>(type, params, flags);
    }
}

template <template <class> class Op>
statement* equatable(eScriptType type, const params_t& params, int flags) {
    if (type == stBool) return binaryoperation<Op<bool>>::createFrom(params, flags);
    return ordered<Op>(type, params, flags);
}

statement* withTypeReport(statement* st, const zt::string& type, const zt::string& keyword) {
    if (!st) {
        zt::assertMsg(u"createScriptOperation: invalid datatype %s for %s", type, keyword);
        throw false;
    }
    return st;
}

statement* minusOf(eScriptType type, const params_t& params, int flags) {
    switch (type) {
    case stShort: return unaryoperation<minus_t<short>>::createFrom(params, flags);
    case stInt: return unaryoperation<minus_t<int>>::createFrom(params, flags);
    case stLong: return unaryoperation<minus_t<zt::slong>>::createFrom(params, flags);
    case stFloat: return unaryoperation<minus_t<float>>::createFrom(params, flags);
    case stDouble: return unaryoperation<minus_t<double>>::createFrom(params, flags);
    default: return nullptr;
    }
}

statement* absOf(eScriptType type, const params_t& params, int flags) {
    switch (type) {
    case stShort:
    case stInt:
    case stLong: return unaryoperation<abs_t<zt::slong>>::createFrom(params, flags);
    case stFloat: return unaryoperation<abs_t<float>>::createFrom(params, flags);
    case stDouble: return unaryoperation<abs_t<double>>::createFrom(params, flags);
    default: return nullptr;
    }
}

enum class op {
    none,
    add,
    subtract,
    multiply,
    divide,
    maxof,
    minof,
    bitand_,
    bitor_,
    round,
    cutoff,
    eq,
    neq,
    sm,
    smeq,
    gt,
    gteq,
    minus,
    abs,
    not_,
    and_,
    or_,
};

// The keywords of the operations; "-" is subtract with two arguments and minus with one.
constexpr modules::keywordEntry<op> kOperations[] = {
    {u"add", op::add},           {u"+", op::add},
    {u"subtract", op::subtract},
    {u"multiply", op::multiply}, {u"*", op::multiply},
    {u"divide", op::divide},     {u"/", op::divide},
    {u"maxof", op::maxof},
    {u"minof", op::minof},
    {u"bitand", op::bitand_},
    {u"bitor", op::bitor_},
    {u"round", op::round},
    {u"cutoff", op::cutoff},
    {u"isequal", op::eq},        {u"==", op::eq},
    {u"isnotequal", op::neq},    {u"!=", op::neq},
    {u"issmaller", op::sm},      {u"<", op::sm},
    {u"issmallerorequal", op::smeq}, {u"<=", op::smeq},
    {u"isbigger", op::gt},       {u">", op::gt},
    {u"isbiggerorequal", op::gteq},  {u">=", op::gteq},
    {u"minus", op::minus},
    {u"abs", op::abs},
    {u"not", op::not_},          {u"!", op::not_},
    {u"and", op::and_},          {u"&&", op::and_},
    {u"or", op::or_},            {u"||", op::or_},
};

op operationOf(const zt::string& keyword, size_t argumentCount) {
    if (keyword == u"-") return argumentCount == 2 ? op::subtract : argumentCount == 1 ? op::minus : op::none;
    return modules::lookupKeyword(kOperations, keyword, op::none);
}

statement* createScriptOperation(const zt::string& keyword, const std::vector<zt::string>& types,
                                 const std::vector<zt::string>& params, int flags) {
    const op operation = operationOf(keyword, params.size());
    switch (operation) {
    case op::none: return nullptr;
    case op::not_: return unaryoperation<notfunc>::createFrom(params, flags);
    case op::and_: return _and::createFrom(params, flags);
    case op::or_: return _or::createFrom(params, flags);
    default: break;
    }

    if (types.empty()) {
        zt::assertMsg(u"createScriptOperation: missing datatype for %s", keyword);
        throw false;
    }
    const eScriptType type = parseScriptType(types[0]);

    switch (operation) {
    case op::add:
        if (type == stDate) return modules::createDateCalculation(types, params, flags, modules::dateOperation::add);
        if (type == stString) return binaryoperation<add_t<zt::string>>::createFrom(params, flags);
        return numbers<add_t>(type, params, flags);
    case op::subtract:
        if (type == stDate) return modules::createDateCalculation(types, params, flags, modules::dateOperation::subtract);
        return numbers<subtract_t>(type, params, flags);
    case op::multiply: return numbers<multiply_t>(type, params, flags);
    case op::divide: return numbers<divide_t>(type, params, flags);
    case op::maxof: return numbers<maxoffunc>(type, params, flags);
    case op::minof: return numbers<minoffunc>(type, params, flags);
    case op::bitand_: return withTypeReport(integers<bitandfunc>(type, params, flags), types[0], keyword);
    case op::bitor_: return withTypeReport(integers<bitorfunc>(type, params, flags), types[0], keyword);
    case op::round: return withTypeReport(reals<round_t>(type, params, flags), types[0], keyword);
    case op::cutoff: return withTypeReport(reals<cutoff_t>(type, params, flags), types[0], keyword);
    case op::eq:
        if (type == stUnknownPtr) return binaryoperation<eqfuncIfPointer>::createFrom(params, flags);
        return equatable<eq_t>(type, params, flags);
    case op::neq:
        if (type == stUnknownPtr) return binaryoperation<neqfuncIfPointer>::createFrom(params, flags);
        return equatable<neq_t>(type, params, flags);
    case op::sm: return ordered<sm_t>(type, params, flags);
    case op::smeq: return ordered<smeq_t>(type, params, flags);
    case op::gt: return ordered<gt_t>(type, params, flags);
    case op::gteq: return ordered<gteq_t>(type, params, flags);
    case op::minus: return minusOf(type, params, flags);
    case op::abs: return absOf(type, params, flags);
    default: return nullptr;
    }
}

} // namespace

scriptModule modules::opsModule(&createScriptOperation);

} // namespace zt::script
