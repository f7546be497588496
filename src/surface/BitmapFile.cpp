// Placeholder until this operation is written.
#include "TWin.h"
namespace tavrin {
void TWin::LoadFromFile(const std::string&) { throw SurfaceError("LoadFromFile is not written yet"); }
void TWin::SaveToFile(const std::string&) const { throw SurfaceError("SaveToFile is not written yet"); }
}
