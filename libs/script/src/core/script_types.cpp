// Script types: type names to type codes, the script type name of a value, and the text form of
// a value as the command-line tool shows it.
#include "ztscript.h"

#include <ztutils.h>

#include <array>
#include <map>

namespace zt::script {

eScriptType parseScriptType(const zt::string& typeName) {
    static zt::logger& log = zt::logManager::getLogger(u"zt::script::parseScriptType");
    log.log_debug(u"zt::script::parseScriptType entered with typestring %s", __FILE__, __LINE__,
                  "zt::script::parseScriptType", typeName);
    static const std::array<std::pair<const char16_t*, eScriptType>, 17> names{{
        {u"unknownptr", stUnknownPtr}, {u"void", stVoid},     {u"array", stArray},   {u"bool", stBool},
        {u"short", stShort},           {u"int", stInt},       {u"long", stLong},     {u"ushort", stUShort},
        {u"uint", stUInt},             {u"ulong", stULong},   {u"float", stFloat},   {u"double", stDouble},
        {u"string", stString},         {u"date", stDate},     {u"time", stTime},     {u"timestamp", stTimestamp},
        {u"binary", stBinary},
    }};
    zt::string lower = typeName.lower();
    for (const auto& n : names)
        if (lower == n.first) return n.second;
    return stVoid;
}

std::uint32_t parseFieldType(const zt::string& typeName) {
    static const std::array<const char16_t*, 15> names{u"bool",   u"short", u"int",  u"long", u"ushort",
                                                       u"uint",   u"ulong", u"float", u"double", u"string",
                                                       u"date",   u"time",  u"timestamp", u"ref", u"array"};
    zt::string lower = typeName.lower();
    for (size_t i = 0; i < names.size(); ++i)
        if (lower == names[i]) return static_cast<std::uint32_t>(i + 1);
    return 0;
}

namespace {
std::vector<std::pair<const std::type_info*, zt::string>>& typeNames() {
    static std::vector<std::pair<const std::type_info*, zt::string>> names{
        {&typeid(bool), u"bool"},
        {&typeid(short), u"short"},
        {&typeid(unsigned short), u"ushort"},
        {&typeid(int), u"int"},
        {&typeid(unsigned int), u"uint"},
        {&typeid(zt::slong), u"long"},
        {&typeid(zt::ulong), u"ulong"},
        {&typeid(float), u"float"},
        {&typeid(double), u"double"},
        {&typeid(zt::string), u"string"},
        {&typeid(std::vector<genericValue>), u"array"},
        {&typeid(zt::uint64), u"uint64"},
        {&typeid(std::map<short, genericValue>), u"map"},
        {&typeid(std::map<int, genericValue>), u"map"},
        {&typeid(std::map<zt::slong, genericValue>), u"map"},
        {&typeid(std::map<zt::string, genericValue>), u"map"},
        {&typeid(genericValue*), u"valueptr"},
        {&typeid(void*), u"handle"},
    };
    return names;
}
} // namespace

void registerScriptTypeName(const std::type_info& type, const zt::string& name) {
    typeNames().emplace_back(&type, name);
}

zt::string scriptTypeNameOf(const genericValue& value) {
    if (value.isEmpty()) return u"void";
    const std::type_info& t = value.type();
    for (const auto& n : typeNames())
        if (*n.first == t) return n.second;
    return zt::string(t.name());
}

namespace {
template <class Map>
bool mapText(const Map& m, zt::string& text) {
    zt::checkValueNesting(u"show as text");
    text = u"{";
    bool first = true;
    for (const auto& [k, v] : m) {
        if (!first) text += u", ";
        first = false;
        genericValue key = genericValue::of(k);
        zt::string kt, vt;
        key.get(kt);
        if (!valueToDisplayText(v, vt)) vt = u"?";
        text += kt + u": " + vt;
    }
    text += u"}";
    return true;
}
} // namespace

bool valueToDisplayText(const genericValue& value, zt::string& text) {
    if (value.isEmpty()) {
        text = u"null";
        return true;
    }
    if (auto* arr = value.constPtrTo<std::vector<genericValue>>()) {
        zt::checkValueNesting(u"show as text");
        text = u"[";
        for (size_t i = 0; i < arr->size(); ++i) {
            if (i) text += u", ";
            zt::string element;
            if (!valueToDisplayText((*arr)[i], element)) element = u"?";
            text += element;
        }
        text += u"]";
        return true;
    }
    if (auto* m = value.constPtrTo<std::map<short, genericValue>>()) return mapText(*m, text);
    if (auto* m = value.constPtrTo<std::map<int, genericValue>>()) return mapText(*m, text);
    if (auto* m = value.constPtrTo<std::map<zt::slong, genericValue>>()) return mapText(*m, text);
    if (auto* m = value.constPtrTo<std::map<zt::string, genericValue>>()) return mapText(*m, text);
    return value.get(text);
}

} // namespace zt::script
