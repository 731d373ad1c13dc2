// Statements on arrays and maps.
//
// An array is a std::vector<genericValue> held in a variable; a map is a std::map from a key of
// type short, int, long or string to a genericValue. createarray and createmap make them;
// addtoarray, arrayelement, sizeofarray, insertintomap and findinmap work on the container of a
// named variable in place. The name is the first argument, taken exactly as written (no blanks
// removed, case kept) and looked up through the context chain: blocks, parameters, globals.
#include "builtin_libraries.h"
#include "operands.h"

#include <map>
#include <new>
#include <utility>
#include <vector>

namespace zt::script {

namespace {

using arrayType = std::vector<genericValue>;
using unknownptr = zt::intrface::interfaceptr<zt::intrface::unknown>;

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptset", line, u"pStmt");
}


void requireArguments(const std::vector<zt::string>& params, size_t count, const char16_t* message) {
    if (params.size() < count) rejectStatement(message);
}

using zt::script::providerFrom;

// The container name of the first argument, as written; an empty one is reported with message.
scString containerName(const zt::string& text, const char16_t* message) {
    if (text.empty()) rejectStatement(message, text);
    return scString(text);
}

// The container of type C in the variable called name, or null when there is no such variable,
// it is empty, or it holds another type. A read-only holder throws false from ptr().
template <class C>
C* containerOf(codecontext& context, const scString& name) {
    genericValue* variable = context.findVariable(name);
    if (!variable || variable->isEmpty()) return nullptr;
    auto* h = genericValue::holder<C>::of(*variable->getHolder());
    return h ? h->ptr() : nullptr;
}

// Releases the element that the host iterator handed out, however the walk ends.
struct heldElement {
    zt::intrface::unknown* p = nullptr;
    heldElement() = default;
    heldElement(const heldElement&) = delete;
    heldElement& operator=(const heldElement&) = delete;
    ~heldElement() { reset(); }
    void reset() {
        zt::intrface::unknown* old = p;
        p = nullptr;
        if (old) old->release();
    }
};

// ---------------------------------------------------------------------------------------------
// createarray

class createArray : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        clonePtr<createArray> st(allocateStatement<createArray>(__LINE__));
        if (!params.empty())
            st->mSource.reset(providerFrom(params[0], flags, u"createArray:::createFrom: error parsing \"%s\""));
        return st.release();
    }

    statement* clone() const override { return new createArray(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        arrayType elements;
        if (mSource) {
            genericValue source;
            if (!mSource->getValue(context, source)) execError(this, u"error retrieving iterator");
            if (source.isEmpty()) execError(this, u"error converting variable to an iterator - object");

            unknownptr object;
            genericValue::ptrholder<unknownptr> objectTarget(&object);
            if (source.getHolder()->assignTo(objectTarget)) {
                zt::intrface::interfaceptr<zt::intrface::forwardIterator> iterator(object);
                if (iterator.isValid()) collect(*iterator.get(), elements);
            } else {
                genericValue::ptrholder<arrayType> arrayTarget(&elements);
                if (!source.getHolder()->assignTo(arrayTarget)) {
                    zt::string text;
                    genericValue::ptrholder<zt::string> textTarget(&text);
                    if (source.getHolder()->assignTo(textTarget))
                        execError(this, u"error converting \"%s\" to an iterator - object", text);
                    execError(this, u"error converting variable to an iterator - object");
                }
            }
        }
        result.replace(std::move(elements));
    }

private:
    // One object reference per element of the host collection, in iteration order. The first
    // walk only counts, so that the array is allocated once.
    static void collect(zt::intrface::forwardIterator& iterator, arrayType& elements) {
        size_t count = 0;
        {
            heldElement current;
            iterator.first(current.p);
            while (!iterator.isEnd()) {
                ++count;
                current.reset();
                iterator.next(current.p);
            }
        }
        elements.reserve(count);
        heldElement current;
        iterator.first(current.p);
        while (!iterator.isEnd()) {
            elements.push_back(genericValue(new genericValue::valueholder<unknownptr>(
                unknownptr(static_cast<const zt::intrface::unknown*>(current.p)))));
            current.reset();
            iterator.next(current.p);
        }
    }

    clonePtr<valueProvider> mSource;
};

// ---------------------------------------------------------------------------------------------
// sizeofarray, addtoarray, arrayelement

class arrayStatement : public scriptbasestatement {
protected:
    // The array of the named variable; raises "Error retrieving array" when there is none.
    arrayType& array(codecontext& context) const {
        arrayType* a = containerOf<arrayType>(context, mName);
        if (!a) execError(this, u"Error retrieving array");
        return *a;
    }

    scString mName;
};

class sizeOfArray : public arrayStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int) {
        requireArguments(params, 1, u"sizeOfArray::createFrom: number of parameters < 1");
        clonePtr<sizeOfArray> st(allocateStatement<sizeOfArray>(__LINE__));
        st->mName = containerName(params[0], u"sizeOfArray::createFrom: error parsing \"%s\"");
        return st.release();
    }

    statement* clone() const override { return new sizeOfArray(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        const zt::ulong count = static_cast<zt::rep_t<zt::ulong>>(array(context).size());
        if (!result.set(count)) throw false;
    }
};

class addToArray : public arrayStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        requireArguments(params, 2, u"addToArray::createFrom: number of parameters < 2");
        clonePtr<addToArray> st(allocateStatement<addToArray>(__LINE__));
        st->mName = containerName(params[0], u"addToArray::createFrom: error parsing \"%s\"");
        st->mValue.reset(providerFrom(params[1], flags, u"addToArray::createFrom: error parsing \"%s\""));
        return st.release();
    }

    statement* clone() const override { return new addToArray(*this); }

    void execute(codecontext& context, genericValue&) const override {
        array(context);
        if (!mValue) execError(this, u"Error retrieving value(1)");
        genericValue value;
        if (!mValue->getValue(context, value)) execError(this, u"Error retrieving value(2)");
        // The value's evaluation may have replaced the variable: look it up again.
        array(context).push_back(std::move(value));
    }

private:
    clonePtr<valueProvider> mValue;
};

class arrayElement : public arrayStatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        requireArguments(params, 2, u"arrayElement::createFrom: number of parameters < 2");
        clonePtr<arrayElement> st(allocateStatement<arrayElement>(__LINE__));
        st->mName = containerName(params[0], u"arrayElement::createFrom: error parsing \"%s\"");
        st->mIndex.reset(providerFrom(params[1], flags, u"arrayElement::createFrom: error parsing \"%s\""));
        return st.release();
    }

    statement* clone() const override { return new arrayElement(*this); }

    void execute(codecontext& context, genericValue& result) const override {
        array(context);
        if (!mIndex) execError(this, u"Error retrieving index (1)");
        unsigned int index = 0;
        {
            genericValue value;
            if (!mIndex->getValue(context, value) || !value.get(index)) execError(this, u"Error retrieving index (2)");
        }
        // The index's evaluation may have replaced the variable: look it up again.
        const arrayType& elements = array(context);
        if (index >= elements.size()) execError(this, u"index bigger than array size");
        const genericValue& element = elements[index];
        if (&element != &result) result = element;
    }

private:
    clonePtr<valueProvider> mIndex;
};

// ---------------------------------------------------------------------------------------------
// createmap, insertintomap, findinmap

template <class K>
using mapType = std::map<K, genericValue>;

template <class K>
class createMap : public scriptbasestatement {
public:
    statement* clone() const override { return new createMap(*this); }
    void execute(codecontext&, genericValue& result) const override { result.replace(mapType<K>()); }
};

template <class K>
class mapStatement : public scriptbasestatement {
protected:
    // The map of the named variable; raises "Map not found" when there is none.
    mapType<K>& map(codecontext& context) const {
        mapType<K>* m = containerOf<mapType<K>>(context, mName);
        if (!m) execError(this, u"Map not found");
        return *m;
    }

    // Evaluates the key provider and reads it as K; raises "Error retrieving key" on failure.
    K key(codecontext& context) const {
        K k{};
        modules::deliveredOperand<K> delivered;
        if (!mKey || !delivered.deliver(mKeySource, *mKey, context) || !delivered.as(k))
            execError(this, u"Error retrieving key");
        return k;
    }
    void setKey(valueProvider* key) {
        mKey.reset(key);
        mKeySource.prepare(mKey.get(), true); // read as K as soon as it is delivered
    }

    scString mName;
    clonePtr<valueProvider> mKey;
    modules::operandSource<K> mKeySource;
};

template <class K>
class insertIntoMap : public mapStatement<K> {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        requireArguments(params, 3, u"insertIntoMap::createFrom: number of parameters < 3");
        clonePtr<insertIntoMap> st(allocateStatement<insertIntoMap>(__LINE__));
        const char16_t* message = u"insertIntoMap::createFrom: error parsing \"%s\"";
        st->mName = containerName(params[0], message);
        st->setKey(providerFrom(params[1], flags, message));
        st->mValue.reset(providerFrom(params[2], flags, message));
        st->mValueDelivery.prepare(st->mValue.get());
        return st.release();
    }

    statement* clone() const override { return new insertIntoMap(*this); }

    void execute(codecontext& context, genericValue&) const override {
        this->map(context);
        const K k = this->key(context);
        genericValue value;
        if (!mValue || !mValueDelivery.deliver(*mValue, context, value))
            statement::execError(this, u"Error retrieving value");
        // The evaluations may have replaced the variable: look it up again.
        mapType<K>& m = this->map(context);
        try {
            m.insert_or_assign(k, std::move(value));
        } catch (const zt::exception& e) {
            statement::execError(this, &e, nullptr);
        } catch (...) {
            statement::execError(this, nullptr);
        }
    }

private:
    clonePtr<valueProvider> mValue;
    modules::delivery mValueDelivery;
};

template <class K>
class findInMap : public mapStatement<K> {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        requireArguments(params, 2, u"findInMap::createFrom: number of parameters < 2");
        clonePtr<findInMap> st(allocateStatement<findInMap>(__LINE__));
        const char16_t* message = u"findInMap::createFrom: error parsing \"%s\"";
        st->mName = containerName(params[0], message);
        st->setKey(providerFrom(params[1], flags, message));
        return st.release();
    }

    statement* clone() const override { return new findInMap(*this); }

    // An absent key leaves the result exactly as it was.
    void execute(codecontext& context, genericValue& result) const override {
        this->map(context);
        const K k = this->key(context);
        const mapType<K>& m = this->map(context);
        auto it = m.find(k);
        if (it != m.end() && &it->second != &result) result = it->second;
    }
};

// The map statements; their key type is the first type text.
enum class mapKeyword { create, insert, find };

template <class K>
statement* createMapStatement(mapKeyword which, const std::vector<zt::string>& params, int flags) {
    switch (which) {
    case mapKeyword::create: return allocateStatement<createMap<K>>(__LINE__);
    case mapKeyword::insert: return insertIntoMap<K>::createFrom(params, flags);
    case mapKeyword::find: break;
    }
    return findInMap<K>::createFrom(params, flags);
}

template <mapKeyword Which>
statement* buildMapStatement(const std::vector<zt::string>& types, const std::vector<zt::string>& params, int flags) {
    if (types.empty()) {
        zt::assertMsg(u"mapstatement:::createFrom: missing datatype");
        return nullptr;
    }
    switch (parseScriptType(types[0])) {
    case stShort: return createMapStatement<short>(Which, params, flags);
    case stInt: return createMapStatement<int>(Which, params, flags);
    case stLong: return createMapStatement<zt::slong>(Which, params, flags);
    case stString: return createMapStatement<zt::string>(Which, params, flags);
    default: zt::assertMsg(u"mapstatement:::createFrom: invalid datatype %s", types[0]); return nullptr;
    }
}

// ---------------------------------------------------------------------------------------------

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"createarray", factory<&createArray::createFrom>},
    {u"sizeofarray", factory<&sizeOfArray::createFrom>},
    {u"addtoarray", factory<&addToArray::createFrom>},
    {u"arrayelement", factory<&arrayElement::createFrom>},
    {u"createmap", buildMapStatement<mapKeyword::create>},
    {u"insertintomap", buildMapStatement<mapKeyword::insert>},
    {u"findinmap", buildMapStatement<mapKeyword::find>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::setModule(&dispatch);

} // namespace zt::script
