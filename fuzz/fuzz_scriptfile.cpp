// Fuzz target: the script file reader and the parameter declarations.
//
// The input is the content of a script file. It is read twice: as a plain file (".ztscr") and
// as a scrambled one (".ztsscr", unscrambled with the fixed key before reading, as the code
// manager does). Every parameter text of every definition then goes through
// parseParameterDeclaration. The bodies are left to the parser target (fuzz_parser).
#include "fuzzcommon.h"

#include <cstring>

using namespace zt::script;

namespace {

void readAndDeclare(const zt::binaryBuffer& buffer) {
    zt::configStructure index;
    ZTFUZZ_GUARDED("scriptFileReader::readInto", scriptFileReader(buffer).readInto(index));
    for (size_t s = 0; s < index.sectionCount(); ++s) {
        const zt::string& name = index.sectionName(s);
        for (int n = 1;; ++n) {
            zt::string text;
            if (!index.getValue(name, zt::string::format(u"parameter%d", n), text)) break;
            ZTFUZZ_GUARDED("parseParameterDeclaration", {
                parameterDeclaration d = parseParameterDeclaration(text, 0);
                // a declaration is copied into the cache entry: copies clone the default
                parameterDeclaration copy = d;
                if (copy.name != d.name || copy.type != d.type || bool(copy.defaultValue) != bool(d.defaultValue)) {
                    std::fprintf(stderr, "FINDING: a copied parameter declaration differs\n");
                    std::abort();
                }
            });
        }
    }
}

// The reader's own line and definition splitting, step by step, on a fresh reader.
void readStepwise(const zt::binaryBuffer& buffer) {
    scriptFileReader reader(buffer);
    zt::string name, body;
    std::vector<zt::string> params;
    for (int guard = 0; guard < 100000; ++guard) {
        bool more = false;
        ZTFUZZ_GUARDED("scriptFileReader::readNextDefinition", more = reader.readNextDefinition(name, params, body));
        if (!more) return;
    }
    std::fprintf(stderr, "FINDING: readNextDefinition does not come to an end\n");
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ztfuzz::silenceAssertions();

    zt::binaryBuffer plain;
    plain.bytes().assign(data, data + size);
    readAndDeclare(plain);
    readStepwise(plain);

    // The same bytes as the content of a scrambled file.
    zt::binaryBuffer scrambled = plain;
    scrambled.xxor(scrambleKey());
    readAndDeclare(scrambled);

    // Scrambling twice gives the original back ("ztscript scramble" relies on it).
    scrambled.xxor(scrambleKey());
    if (scrambled.bytes() != plain.bytes()) {
        std::fprintf(stderr, "FINDING: xxor applied twice does not restore the content\n");
        std::abort();
    }
    return 0;
}
