// Operands of the built-in statements: values read as one type (the operators' numbers, a map's
// key), prepared when their statement is built so that an execution reads a literal, a variable
// or a call's result with as little work as the reading allows.
#pragma once

#include "builtin_libraries.h"
#include "core/execution_budget.h"

#include <cstdint>
#include <utility>
#include <type_traits>

// Operand delivery is the innermost step of every operation: it is inlined into each of them.
#if defined(__GNUC__) || defined(__clang__)
#  define ZT_INLINE [[gnu::always_inline]] inline
#  define ZT_NOINLINE [[gnu::noinline]]
#else
#  define ZT_INLINE inline
#  define ZT_NOINLINE
#endif

namespace zt::script::modules {
// Each library compiles its own copies (internal linkage), optimised for its own statements.
namespace {

// A literal operand read as T once, when its statement is built, so that executions skip the
// text conversion. The value stands for the literal while the type conversions stay as they
// were (a host may replace one); otherwise the operand is read as any other.
template <class T>
class literalOperand {
public:
    void prepare(const valueProvider* provider) {
        mKnown = false;
        const auto* literal = dynamic_cast<const constantProvider*>(provider);
        if (!literal) return;
        mGeneration = zt::typeConversionManager::currentGeneration();
        genericValue text;
        text.set(literal->text()); // as the literal delivers itself
        mKnown = text.get(mValue);
    }
    const T* value() const {
        return mKnown && mGeneration == zt::typeConversionManager::currentGeneration() ? &mValue : nullptr;
    }

private:
    T mValue{};
    bool mKnown = false;
    std::uint64_t mGeneration = 0;
};

// Whether provider reads a stored value (a variable read), which can be read in place.
inline bool readsStoredValue(const valueProvider* provider) {
    const auto* st = dynamic_cast<const statementProvider*>(provider);
    return st && st->readsStoredValue();
}

// A stored value read in place (a provider for which readsStoredValue holds). A bare variable
// that is there is read straight from the blocks when its read would be no more than that (no
// limit counts it, no trace shows it); otherwise its statement runs, which also reports a
// missing variable.
struct storedRead {
    scString variable;
    bool direct = false;

    void prepare(const valueProvider* provider) {
        const scString* name = plainVariableRead(provider);
        direct = name != nullptr;
        if (direct) variable = *name;
    }
    ZT_INLINE const genericValue& read(const valueProvider& provider, codecontext& context) const {
        if (direct && core::plainSteps())
            if (const genericValue* v = context.findVariable(variable)) return *v;
        return *static_cast<const statementProvider&>(provider).storedValue(context);
    }
};

// Where an operand comes from, decided when its statement is built: a literal (read once), a
// variable that may be read in place, or any other provider.
template <class T>
struct operandSource {
    literalOperand<T> literal;
    modules::delivery delivery;
    bool inPlace = false;
    storedRead stored;

    // mayReadInPlace: nothing runs between delivering the operand and reading it as T (no
    // later operand could change the variable meanwhile).
    void prepare(const valueProvider* provider, bool mayReadInPlace) {
        literal.prepare(provider);
        delivery.prepare(provider);
        inPlace = mayReadInPlace && readsStoredValue(provider);
        if (inPlace) stored.prepare(provider);
    }
};

// One delivery of an operand during one execution.
template <class T>
class deliveredOperand {
public:
    // False when the provider fails.
    ZT_INLINE bool deliver(const operandSource<T>& source, const valueProvider& provider, codecontext& context) {
        if ((mKnown = source.literal.value())) return true;
        if (source.inPlace) {
            mValue = &source.stored.read(provider, context);
            return true;
        }
        mValue = &mCopy;
        return source.delivery.deliver(provider, context, mCopy);
    }
    // Reads the delivered operand as T: the value's own T, or a conversion.
    ZT_INLINE bool as(T& out) const {
        if (mKnown) {
            out = *mKnown;
            return true;
        }
        const genericValue::holderbase* h = mValue->getHolder();
        if (!h) return false;
        if (const auto* same = genericValue::holder<T>::of(*h)) {
            out = *mValue->valueIn(*same);
            return true;
        }
        if constexpr (std::is_same_v<T, double>) {
            // An integer counter in a sum of doubles is the common mixed operation: the cast
            // is what the built-in conversion does, while no host replaced it.
            if (const auto* n = genericValue::holder<int>::of(*h); n && zt::typeConversionManager::numbersBuiltIn()) {
                out = *mValue->valueIn(*n);
                return true;
            }
        }
        return converted(*mValue, out);
    }

private:
    // The conversions, out of the inlined path.
    ZT_NOINLINE static bool converted(const genericValue& value, T& out) {
        if constexpr (std::is_same_v<T, int>) {
            // A 64-bit length (strlen's) added to an int, checked as the built-in conversion
            // checks it.
            if (const zt::uint64* n = value.constPtrTo<zt::uint64>(); n && zt::typeConversionManager::numbersBuiltIn()) {
                if (!std::in_range<int>(*n)) return false;
                out = static_cast<int>(*n);
                return true;
            }
        }
        return value.get(out);
    }

    const T* mKnown = nullptr;
    const genericValue* mValue = nullptr;
    genericValue mCopy;
};

// Whether delivering provider can change anything: literals and variable reads cannot.
inline bool deliversWithoutEffects(const valueProvider* provider) {
    return !provider || dynamic_cast<const constantProvider*>(provider) || readsStoredValue(provider);
}

} // namespace
} // namespace zt::script::modules
