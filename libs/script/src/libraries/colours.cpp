// Statements on colour: named colour constants and a colour from red, green and blue. A colour
// is the unsigned long colour value of zt::rgbColor (0x00BBGGRR).
#include "builtin_libraries.h"

#include <ztcolor.h>

#include <new>

namespace zt::script {

namespace {

template <class T>
T* allocateStatement(int line) {
    return zt::script::allocateStatement<T>(u"ztscriptcolor", line);
}

// Stores the colour value into result, keeping a type that result already holds.
void assignColor(const zt::rgbColor& color, genericValue& result) {
    if (!result.set(zt::ulong(color.colorValue()))) throw false;
}

// A named colour; its arguments are ignored.
class rgb_const : public scriptbasestatement {
public:
    using filler = void (*)(zt::rgbColor&);

    static statement* createFrom(filler fill) {
        rgb_const* st = allocateStatement<rgb_const>(__LINE__);
        st->mpFill = fill;
        return st;
    }
    statement* clone() const override { return new rgb_const(*this); }
    void execute(codecontext&, genericValue& result) const override {
        bool done = false;
        try {
            zt::rgbColor color;
            mpFill(color);
            assignColor(color, result);
            done = true;
        } catch (...) {
        }
        if (!done) execError(this, u"Error executing function call");
    }

private:
    filler mpFill = nullptr;
};

class rgb_make : public scriptbasestatement {
public:
    static statement* createFrom(const std::vector<zt::string>& params, int flags) {
        if (params.size() < 3) throw numParamsException(u"rgb_make", 3);
        clonePtr<rgb_make> st(allocateStatement<rgb_make>(__LINE__));
        st->mpRed.reset(zt::script::providerFrom(params[0], flags, kParseError));
        st->mpGreen.reset(zt::script::providerFrom(params[1], flags, kParseError));
        st->mpBlue.reset(zt::script::providerFrom(params[2], flags, kParseError));
        return st.release();
    }
    statement* clone() const override { return new rgb_make(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        unsigned int red = 0, green = 0, blue = 0;
        if (!zt::script::evaluateAs(mpRed, context, red)) execError(this, u"Error getting value for red");
        if (!zt::script::evaluateAs(mpGreen, context, green)) execError(this, u"Error getting value for green");
        if (!zt::script::evaluateAs(mpBlue, context, blue)) execError(this, u"Error getting value for blue");
        bool done = false;
        try {
            // Only the low 8 bits of each component count: 256 is 0.
            zt::rgbColor color;
            color.setRGB(static_cast<unsigned char>(red & 0xFFu), static_cast<unsigned char>(green & 0xFFu),
                         static_cast<unsigned char>(blue & 0xFFu));
            assignColor(color, result);
            done = true;
        } catch (...) {
        }
        if (!done) execError(this, u"Error executing zt::rgbColor");
    }

private:
    static constexpr const char16_t* kParseError = u"rgb_make::createFrom: error parsing \"%s\"";

    clonePtr<valueProvider> mpRed, mpGreen, mpBlue;
};

void fillRed(zt::rgbColor& c) { c.setRGB(255, 0, 0); }
void fillGreen(zt::rgbColor& c) { c.setRGB(0, 255, 0); }
void fillBlue(zt::rgbColor& c) { c.setRGB(0, 0, 255); }
void fillYellow(zt::rgbColor& c) { c.setRGB(255, 255, 0); }
void fillMagenta(zt::rgbColor& c) { c.setRGB(255, 0, 255); }
void fillCyan(zt::rgbColor& c) { c.setRGB(0, 255, 255); }
void fillWhite(zt::rgbColor& c) { c.setRGB(255, 255, 255); }
void fillBlack(zt::rgbColor& c) { c.setRGB(0, 0, 0); }

// The keywords of this library and what builds their statements.
using modules::factory;
constexpr modules::keywordEntry<modules::statementFactory> kKeywords[] = {
    {u"rgb_make", factory<&rgb_make::createFrom>},
    {u"red", factory<&rgb_const::createFrom, &fillRed>},
    {u"green", factory<&rgb_const::createFrom, &fillGreen>},
    {u"blue", factory<&rgb_const::createFrom, &fillBlue>},
    {u"yellow", factory<&rgb_const::createFrom, &fillYellow>},
    {u"magenta", factory<&rgb_const::createFrom, &fillMagenta>},
    {u"cyan", factory<&rgb_const::createFrom, &fillCyan>},
    {u"white", factory<&rgb_const::createFrom, &fillWhite>},
    {u"black", factory<&rgb_const::createFrom, &fillBlack>},
};

statement* dispatch(const zt::string& keyword, const std::vector<zt::string>& types,
                    const std::vector<zt::string>& params, int flags) {
    return modules::buildFromTable(kKeywords, keyword, types, params, flags);
}

} // namespace

scriptModule modules::colorModule(&dispatch);

} // namespace zt::script
