// Windows-style profile (INI) files without Windows: the reading and editing rules of
// GetPrivateProfileStringA and WritePrivateProfileStringA applied to a file's bytes.
//  - Section and key names match without regard to ASCII case (a double-byte character's
//    second byte is never folded); the first matching section and the first matching key win.
//  - Names and values lose the blanks around them; a value (or default) in one pair of
//    matching quotes (double or single) comes back without them. A written value loses its
//    leading blanks.
//  - A write edits the file in place: every line it does not touch keeps its bytes. New lines
//    end in CRLF; a new key goes after the last non-blank line of its section, a new section
//    at the end of the file.
//  A Reader parses a file's bytes once and answers any number of reads as Read would.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sk::profile {

// What GetPrivateProfileStringA puts in a buffer of bufferSize bytes. content: the file's
// bytes, nullopt when there is no file.
std::string Read(const std::optional<std::string>& content, const std::string& section,
                 const std::string& key, const std::optional<std::string>& defaultValue,
                 std::size_t bufferSize);

// A file read once: each read gives what Read gives for the same bytes, without going through
// the bytes again (the first header of each section name is indexed).
class Reader {
public:
    explicit Reader(std::optional<std::string> content);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    std::string Read(const std::string& section, const std::string& key,
                     const std::optional<std::string>& defaultValue, std::size_t bufferSize) const;
    // The name of each section the reads can find (the first header of each name), folded to
    // ASCII lower case as names are compared.
    std::vector<std::string> SectionNames() const;

private:
    struct Index;
    std::unique_ptr<Index> index_;
};

// Where the section name of a header line lies, as the reads take it: [first, second) of the
// line's bytes (without its line end). nullopt for a line that is no section header.
std::optional<std::pair<std::size_t, std::size_t>> SectionNameIn(std::string_view line);

// The file's bytes after WritePrivateProfileStringA (no key: delete the section; no value:
// delete the key). A file that did not exist is created, also by a delete.
std::string Write(const std::optional<std::string>& content, const std::string& section,
                  const std::optional<std::string>& key, const std::optional<std::string>& value);

// A profile in UTF-16 (little-endian after its byte-order mark FF FE, Notepad's "Unicode"), as
// Windows' ANSI profile functions see it: its text with every line converted through the system
// code page, and written back in UTF-16 (Microsoft documents WritePrivateProfileString: a file
// created with Unicode characters gets Unicode characters). Lines that no edit touched keep
// their very code units, also those the code page cannot carry whole, by the line they are:
// two lines of the same converted text stay apart. A file nothing changed is given back byte
// for byte.
class Utf16File {
public:
    static bool Is(std::string_view bytes);  // begins with the mark FF FE
    explicit Utf16File(std::string_view bytes);
    const std::string& Text() const { return text_; }
    // Follows one edit of the text (the changed lines in one stretch, or in their places).
    void Follow(std::string_view text);
    // The file's bytes for this text, one edit on from the last followed: the mark, then the
    // lines in UTF-16.
    std::string Encode(std::string_view text);

private:
    struct Line {
        std::string text;  // converted
        std::optional<std::u16string> units;  // the file's own, for a line no edit wrote
    };
    std::string text_;
    std::vector<Line> lines_;  // of the text last followed
    std::string oddByte_;  // a last byte that makes no code unit
};

}  // namespace sk::profile
