// An example host: one host object, one host statement, an error with its place, and a limit.
// Usage: invoice_host SCRIPTDIR (the folder of invoice.ztscr).
#include <zthostobject.h>
#include <ztstatements.h>

#include <iostream>

using namespace zt::script;

// The host object: an invoice whose fields scripts read and write.
class invoice : public hostObject {
public:
    double amount;
    zt::string customer;
    invoice(double a, const zt::string& c) : amount(a), customer(c) {
        bindField(u"amount", amount);
        bindField(u"customer", customer);
    }
};

// The host statement vat(amount): the amount with 20 % VAT.
class vat : public namedParameterStatement {
public:
    statement* clone() const override { return new vat(*this); }
    void execute(codecontext& context, genericValue& result) const override {
        const double amount = valueAs<double>(u"amount", context, u"amount is no number");
        if (amount < 0) execError(this, u"negative amount");
        result.replace(amount * 1.2);
    }
    // Keywords arrive lower-cased; null means "not mine".
    static statement* dispatch(const zt::string& keyword, const std::vector<zt::string>&,
                               const std::vector<zt::string>& params, int flags) {
        if (keyword != u"vat") return nullptr;
        return build<vat>(u"host", __LINE__, u"vat", params, flags, u"amount", true, nullptr);
    }
};

// Runs one function of invoice.ztscr; prints a failure as "error: FILE:LINE:COLUMN: cause".
bool run(const char* folder, const char16_t* function, std::vector<genericValue> args, genericValue& result,
         const executionLimits& limits = {}) {
    scriptcontext context;
    context.setLimits(limits);
    try {
        return codeManager::instance()->executeFunction(zt::string(folder), zt::string(u"script$invoice$") + function,
                                                        context, args, result);
    } catch (const zt::exception& e) {
        const zt::exception* cause = &e;
        while (cause->inner()) cause = cause->inner();
        const sourcePosition* where = innermostPosition(e);
        std::cout << "error: " << (where ? where->text().toUtf8() + ": " : "") << cause->text().toUtf8() << "\n";
    } catch (bool) {
        std::cout << "error: the script could not be built\n";
    }
    return false;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: invoice_host SCRIPTDIR\n";
        return 2;
    }
    static scriptModule hostStatements(&vat::dispatch);
    hostStatements.registerModule();

    auto inv = makeHostObject<invoice>(1200.0, u"ACME");
    genericValue result;
    if (!run(argv[1], u"check", {inv.value()}, result)) return 1;
    zt::string total;
    result.get(total);
    std::cout << "total: " << total.toUtf8() << "\nlabel: " << inv->label(u"total").toUtf8() << "\n";
    for (const auto& m : inv->messages()) std::cout << "message " << m.id.toUtf8() << ": " << m.text.text().toUtf8() << "\n";

    run(argv[1], u"broken", {inv.value()}, result);

    executionLimits limits;
    limits.maxSteps = 10000;
    run(argv[1], u"forever", {}, result, limits);
    return 0;
}
