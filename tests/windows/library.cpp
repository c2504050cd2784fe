#include "library.h"

#include <string>

namespace wintest {

namespace {

constexpr int kLastOrdinal = 54;

// Checks one export and stores its address in slot; false when it is missing.
template <class Function>
bool Resolve(HMODULE module, const char* name, int argumentBytes, int ordinal, int decoratedOrdinal,
             Function& slot, Checks& checks) {
    std::string decorated = "_" + std::string(name) + "@" + std::to_string(argumentBytes);
    FARPROC plain = GetProcAddress(module, name);
    FARPROC byDecorated = GetProcAddress(module, decorated.c_str());
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    FARPROC byDecoratedOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(decoratedOrdinal));
    bool same = plain && plain == byDecorated && plain == byOrdinal && plain == byDecoratedOrdinal;
    std::string what = std::string(name) + " by name, " + decorated + ", ordinals " +
                       std::to_string(ordinal) + " and " + std::to_string(decoratedOrdinal);
    checks.Expect(same, what.c_str());
    slot = reinterpret_cast<Function>(reinterpret_cast<void*>(plain));
    return plain != nullptr;
}

} // namespace

bool LoadQarn(const char* path, Qarn& qarn, Checks& checks) {
    qarn.module = LoadLibraryA(path);
    if (!checks.Expect(qarn.module != nullptr, "LoadLibraryA loads the module")) return false;
    bool complete = true;
#define QARN_RESOLVE(name, bytes, ordinal, decoratedOrdinal)                                       \
    complete &= Resolve(qarn.module, #name, bytes, ordinal, decoratedOrdinal, qarn.name, checks);
    QARN_EXPORTS(QARN_RESOLVE)
#undef QARN_RESOLVE
    checks.Expect(GetProcAddress(qarn.module, MAKEINTRESOURCEA(kLastOrdinal + 1)) == nullptr,
                  ("no export beyond ordinal " + std::to_string(kLastOrdinal)).c_str());
    return complete;
}

} // namespace wintest
