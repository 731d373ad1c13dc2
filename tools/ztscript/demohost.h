// The demo host of the ztscript tool: host objects loaded from JSON files, so that the object
// statements can be tried without a host application.
//
// A JSON object becomes a host object; its members become:
//   string, number, true/false, null   a field (text, int or double, bool, no value)
//   array of scalars                   an array field (elements as above)
//   object                             a relation of the member's name
//   array of objects                   a relation whose getRelations gives a collection
//                                      (forwardIterator) of the element objects
//   empty array                        an empty array field, and a relation with an empty
//                                      collection
// Integers that do not fit an int are held as double. An array mixing objects and other values,
// or holding arrays, is refused.
//
// Every object offers fieldaccess, arrayfieldaccess, propertyaccess, triggerEvents,
// restrictionsaccess, relationaccess, transientdataaccess and messagesaccess. Field names are
// case-sensitive, as in JSON. Every name starts enabled, not constant and labelled with itself.
//
// Setters: a field keeps its kind. A text field stores the value's text form, a true/false
// field its bool value, a number field an int (integers) or the floating value; a value that
// does not convert makes the setter fail. A field without a value (null) or a new field takes
// the value as given. Setting a name that is not yet a field adds it (the engine does this only
// when the script asks for it); names of array fields and relations are refused.
//
// For tests, the read-only array fields "#messages" ("error ID: TEXT", ...) and "#events"
// ("change NAME", "infochange NAME") list the object's messages and change events; they are
// neither fields (hasField is false) nor dumped or saved.
#pragma once

#include <ztscript.h>
#include <ztutils.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ztscript_tool {

using json = nlohmann::ordered_json;

// A JSON file that cannot be read or mapped, or an object that cannot be written back.
struct demoError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The word for a message severity: "error" (2), "warning" (1), "info" (anything else).
const char* severityWord(int severity);

class demoHost {
public:
    demoHost();
    ~demoHost();
    demoHost(const demoHost&) = delete;
    demoHost& operator=(const demoHost&) = delete;

    // Messages added to the objects are printed there as "message SEVERITY ID: TEXT" (null:
    // not printed; the default).
    void setMessageStream(std::ostream* out);

    // An object reference to the object of a JSON file, read on first use: the same file (as
    // an absolute path) gives the same object. name is how messages and dump call the file
    // (default: path). Throws demoError.
    zt::genericValue load(const std::string& path, const std::string& name = std::string());
    // An object reference to an object built from a JSON object; it belongs to no file and is
    // neither dumped nor saved. Throws demoError.
    zt::genericValue fromJson(const json& document);

    // The objects of the loaded files in load order: each with "file" (as passed to load),
    // "fields", "properties", "restrictions", "messages", "relations" (current relations,
    // recursively; a relation back to an object being shown gives "<cycle>", another host's
    // object "<object>", none null), and "events" and "transient" when there are any. A value
    // or relation nested too deeply for the thread's stack shows as "<nested too deeply>".
    json dump() const;
    // The state of one object as dump shows it (no "file"); null when it is no demo object.
    static json dumpObject(const zt::genericValue& reference);

    // Writes the fields of every loaded file's object tree back to its file, in the file's
    // shape: members in their order, each relation as the object loaded for it (relations
    // changed by scripts are not saved), fields added by scripts at the end of their object.
    // Throws demoError when a file cannot be written.
    void save() const;
    // What save writes for an object (null when it is no demo object).
    static json savedForm(const zt::genericValue& reference);

    // JSON text as dump and save write it: indented by two blanks, with objects and arrays that
    // hold only values (and fit) on one line; ends with a line feed.
    static std::string format(const json& value);

    // Demo objects and collections alive in the process (for leak checks).
    static std::size_t liveObjects();

    struct state;

private:
    std::shared_ptr<state> mState;
};

} // namespace ztscript_tool
