// The Windows build maps case through a table generated from ICU; every code point must map as
// ICU maps it on Linux, so that scripts behave alike on both platforms.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include "casetable.h"

#include <unicode/uchar.h>

TEST(CaseTable, MapsEveryCodePointAsIcuDoes) {
    int differences = 0;
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        const char32_t lower = zt::casetable::lower(static_cast<char32_t>(c));
        const char32_t upper = zt::casetable::upper(static_cast<char32_t>(c));
        if (lower != static_cast<char32_t>(u_tolower(c)) || upper != static_cast<char32_t>(u_toupper(c))) {
            if (++differences <= 5) ADD_FAILURE() << "U+" << std::hex << c << ": regenerate with ninja update_casetable";
        }
    }
    EXPECT_EQ(differences, 0);
}
#endif
