// Files written whole or not at all: the bytes go to a temporary file beside
// the target, which replaces the target only once it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tavrin {

class TSaveFile {
public:
    // Throws SurfaceError "Cannot create file" when the target may not be
    // replaced or no temporary file can be made beside it.
    explicit TSaveFile(const std::string& FileName);
    // Without Commit the temporary file goes and the target stays as it was.
    ~TSaveFile();
    TSaveFile(const TSaveFile&) = delete;
    TSaveFile& operator=(const TSaveFile&) = delete;

    // A failed write is remembered and reported by Commit.
    void Write(const std::uint8_t* Data, std::size_t Size);
    // Writes over bytes already written, from Offset; the next Write appends.
    void Overwrite(std::uint64_t Offset, const std::uint8_t* Data, std::size_t Size);
    // For a program that writes the file itself, by its name, before Commit.
    const std::string& TemporaryName() const { return Temporary; }
    // Puts the complete file in place of the target; throws SurfaceError
    // when anything could not be written.
    void Commit();

private:
    std::string FileName;
    std::string Target;
    std::string Temporary;
    std::FILE* File = nullptr;
    bool Written = true;
};

} // namespace tavrin
