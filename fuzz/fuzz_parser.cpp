// Fuzz target: the statement parser.
//
// The input is one statement text, as a function body or a statement's argument reaches the
// parser. A leading byte 0x01, 0x02 or 0x03 is taken as the statement flags (continue and break
// allowed) and dropped; any other input is parsed with the flags of a function body (0).
// A statement that comes back is copied (clone) and released, as the code manager does with
// every body it caches. Every argument-like text also goes through valueProvider::createFrom.
#include "fuzzcommon.h"

using namespace zt::script;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ztfuzz::silenceAssertions();
    int flags = 0;
    if (size > 0 && data[0] >= 1 && data[0] <= 3) {
        flags = data[0];
        ++data;
        --size;
    }
    const zt::string text = ztfuzz::textOf(data, size);

    ZTFUZZ_GUARDED("statementParser::createStatementFrom", {
        statement* st = statementParser::instance()->createStatementFrom(text, flags);
        if (st) {
            statement* copy = st->clone();
            st->release();
            if (!copy) {
                std::fprintf(stderr, "FINDING: clone() returned null\n");
                std::abort();
            }
            copy->release();
        }
    });

    ZTFUZZ_GUARDED("valueProvider::createFrom", {
        clonePtr<valueProvider> provider(valueProvider::createFrom(text, flags));
        clonePtr<valueProvider> copy = provider;
        (void)copy;
    });
    return 0;
}
