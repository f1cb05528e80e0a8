// model/model_local.h — helpers shared by the model's source files only.
#pragma once

#include "model/mdl.h"

#include <string>
#include <string_view>

namespace model {

// A model file read whole and served line by line. Lines end at CR LF, LF or CR; the terminator
// is not part of the line. Line numbers are 1-based; LineNo() is the number of the line last
// returned (0 before the first).
struct LineReader {
    std::string path;

    // Reads the whole file; false when it cannot be opened or read, or exceeds kMaxFileBytes.
    bool Open(const std::string& filePath);
    // Reads a text held in memory (fuzzing and tests).
    void OpenText(std::string_view name, std::string_view text);
    // The next line; false at the end of the file.
    bool Next(std::string_view& line);
    // The next line; throws ModelError ("unexpected end of file while reading <what>") at the end.
    std::string_view Require(const char* what);
    int LineNo() const { return lineNo; }
    // Throws ModelError for the line last returned.
    [[noreturn]] void Fail(const std::string& reason) const;

    static constexpr size_t kMaxFileBytes = size_t(256) << 20;

private:
    std::string data;
    size_t pos = 0;
    int lineNo = 0;
};

// Joins a directory and a file name with "/", turning "\" separators into "/".
std::string JoinPath(std::string_view directory, std::string_view name);

// Converts a field to a 32-bit float or integer, or fails the reader's current line naming the
// field (what) and its text.
float FieldSingle(const LineReader& in, std::string_view field, std::string_view sep,
                  const char* what);
double FieldDouble(const LineReader& in, std::string_view field, std::string_view sep,
                   const char* what);
int32_t FieldInteger(const LineReader& in, std::string_view field, const char* what);

// Splits a data line (SplitFields) into exactly `count` fields, or at least `count`, or fails the
// reader's current line naming the counts.
void RequireFields(const LineReader& in, std::string_view line, size_t count,
                   std::vector<std::string_view>& fields);
void RequireAtLeastFields(const LineReader& in, std::string_view line, size_t count,
                          std::vector<std::string_view>& fields);

// One line of an SMD nodes section: `index "name" parent`. The index field is not read: a node's
// index is its place in the section.
struct NodeLine {
    std::string_view name; // between the first two double quotes, blanks trimmed; a view of the
                           // reader's text, valid until the reader is closed
    int32_t parent = -1;   // the field after the closing quote (blanks and tabs around it
                           // ignored); -1 for a root
};

// Reads the next line of a nodes section (the line after "nodes", then each following one) into
// `node`; false at the section's "end" line. Both SMD readers use it, so a nodes section means
// the same in a reference file and in an animation file. Fails the reader (ModelError naming the
// line) at the end of the file, on a line without a name in double quotes, and on a parent that
// is not a 32-bit integer; what the parent must name is the caller's rule.
bool ReadNodeLine(LineReader& in, NodeLine& node);

} // namespace model
