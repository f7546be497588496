#include "SaveFile.h"

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

#include "SurfaceError.h"

namespace tavrin {
namespace {

// The mode an ordinary create gives a new file. The umask can be read only
// by setting it; saves run on the one user-interface thread.
mode_t NewFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// A save through a symbolic link replaces the file it points at, not the link.
std::string SaveTarget(const std::string& FileName)
{
    struct stat link;
    if (lstat(FileName.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return FileName;
    char* resolved = realpath(FileName.c_str(), nullptr);
    if (!resolved)
        return FileName; // a dangling link is replaced as it is
    std::string path(resolved);
    std::free(resolved);
    return path;
}

std::string FolderOf(const std::string& Path)
{
    const std::size_t slash = Path.rfind('/');
    return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

} // namespace

TSaveFile::TSaveFile(const std::string& FileName)
    : FileName(FileName), Target(SaveTarget(FileName))
{
    const std::string cannotCreate = "Cannot create file " + FileName;
    struct stat old;
    const bool exists = stat(Target.c_str(), &old) == 0;
    // The rename needs only the folder's permission: a file the user may not
    // write must not be replaced all the same.
    if (exists && (!S_ISREG(old.st_mode) || access(Target.c_str(), W_OK) != 0))
        throw SurfaceError(cannotCreate);

    Temporary = FolderOf(Target) + ".tavrin-save-XXXXXX";
    const int descriptor = mkstemp(Temporary.data());
    if (descriptor < 0)
        throw SurfaceError(cannotCreate);
    File = fdopen(descriptor, "wb");
    if (!File) {
        close(descriptor);
        std::remove(Temporary.c_str());
        throw SurfaceError(cannotCreate);
    }
    Written = fchmod(descriptor, exists ? old.st_mode & 0777 : NewFileMode()) == 0;
}

TSaveFile::~TSaveFile()
{
    if (File) {
        std::fclose(File);
        std::remove(Temporary.c_str());
    }
}

void TSaveFile::Write(const std::uint8_t* Data, std::size_t Size)
{
    Written = Written && std::fwrite(Data, 1, Size, File) == Size;
}

void TSaveFile::Overwrite(std::uint64_t Offset, const std::uint8_t* Data, std::size_t Size)
{
    Written = Written && fseeko(File, off_t(Offset), SEEK_SET) == 0 &&
              std::fwrite(Data, 1, Size, File) == Size && fseeko(File, 0, SEEK_END) == 0;
}

void TSaveFile::Commit()
{
    bool written = Written && std::fflush(File) == 0 && fsync(fileno(File)) == 0;
    written = std::fclose(File) == 0 && written;
    File = nullptr;
    if (!written || std::rename(Temporary.c_str(), Target.c_str()) != 0) {
        std::remove(Temporary.c_str());
        throw SurfaceError(written ? "Cannot create file " + FileName
                                   : "Cannot write file " + FileName);
    }
}

} // namespace tavrin
