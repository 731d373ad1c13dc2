// Localisation: message catalogues per language, the language in use, and the resolution of
// message identifiers into texts.
//
// Catalogues are plain UTF-8 text files named "<catalogue>.<language>.txt": "strings.de.txt"
// holds the German texts of the common catalogue (used by every message without a string file),
// "orders.de.txt" those of the string file "orders". Each line is "id=text"; blanks around the
// identifier and the text are dropped, empty lines and lines starting with "#" are ignored, and
// in the text "\n", "\t" and "\\" stand for a line break, a tab and a backslash. When an
// identifier appears twice the later line counts.
//
// Catalogue files are looked for in the folder that the host names (setCatalogueFolder) and in
// the program's folder; an entry in the host's folder wins. The language is the host's
// (setLanguage) or else the environment's (LC_ALL, LC_MESSAGES, LANG in this order: "de_DE.UTF-8"
// gives "de"); "C" and "POSIX" name no language, and without a language only default texts are
// shown.
//
// Files are read once, on the first lookup of their catalogue and language; changing the folder
// or the language (or reloadCatalogues) makes them be read again. Lookups are thread-safe.
#pragma once

#include "ztexception.h"
#include "ztexport.h"
#include "ztstring.h"

namespace zt {

// The folder (with or without a trailing separator) holding the host's catalogue files; empty:
// only the program's folder.
ZTUTILS_API void setCatalogueFolder(const zt::string& folder);
// The language of the texts ("de", or a locale name such as "de_DE.UTF-8"); empty: take it from
// the environment.
ZTUTILS_API void setLanguage(const zt::string& language);
// The language in use ("" when there is none).
ZTUTILS_API zt::string currentLanguage();
// The language code of a locale name: "de_DE.UTF-8" gives "de", "C" and "POSIX" give "".
ZTUTILS_API zt::string languageOfLocale(const zt::string& locale);
// Forgets the catalogues read so far (the files are read again on their next use).
ZTUTILS_API void reloadCatalogues();

// A message identifier and the string file (catalogue) it is looked up in; an empty file means
// the common catalogue "strings".
class ZTUTILS_API locStringId {
public:
    locStringId() = default;
    explicit locStringId(const zt::string& id) : mId(id) {}
    locStringId(const zt::string& id, const zt::string& file) : mId(id), mFile(file) {}

    const zt::string& id() const { return mId; }
    const zt::string& file() const { return mFile; }

    // The catalogue's text for the identifier in the language (null: the current one), placeholders
    // unfilled; false when there is none. An installed catalogue hook (locString::setCatalogue)
    // is asked first.
    bool lookup(zt::string& text, const char16_t* language = nullptr) const;

private:
    zt::string mId;
    zt::string mFile;
};

// The text of a message: the catalogue's text for id (else defaultText) with the placeholders of
// params filled, in the language (null: the current one).
ZTUTILS_API zt::string locMessage(const locStringId& id, const zt::string& defaultText,
                                  const locStringParams& params = locStringParams(),
                                  const char16_t* language = nullptr);

} // namespace zt
