#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kavri {
namespace {

int AnswerOne() {
    return 1;
}
int AnswerTwo() {
    return 2;
}

using AnswerFn = int (*)();

void* Address(AnswerFn fn) {
    return reinterpret_cast<void*>(fn);
}

TEST(DynamicLibrary, InProcessLibraryIsFoundByNameWithoutRegardToCase) {
    // A library registered as "Stack.dll" is loaded as "STACK.DLL".
    // Expected: its entry point resolves and runs; an unknown entry point is null.
    auto registration = InProcessLibraries::Register("Stack.dll", {{"Answer", Address(AnswerOne)}});
    auto library = DynamicLibrary::Load("STACK.DLL");
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(library->IsInProcess());
    auto answer = library->ResolveAs<AnswerFn>("Answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 1);
    EXPECT_EQ(library->Resolve("answer"), nullptr) << "entry points are case-sensitive";
    EXPECT_EQ(library->Resolve("Missing"), nullptr);
}

TEST(DynamicLibrary, LibraryIsAbsentOnceItsRegistrationEnds) {
    // A registration is dropped; a library loaded before stays usable.
    // Expected: a new load finds nothing, the earlier handle still resolves.
    auto registration = InProcessLibraries::Register("gone.cpl", {{"Answer", Address(AnswerOne)}});
    auto loaded = DynamicLibrary::Load("gone.cpl");
    ASSERT_NE(loaded, nullptr);
    registration.reset();
    EXPECT_EQ(DynamicLibrary::Load("gone.cpl"), nullptr);
    EXPECT_NE(loaded->Resolve("Answer"), nullptr);
}

TEST(DynamicLibrary, NestedRegistrationShadowsAndUnwinds) {
    // A second registration of the same name, then its removal.
    // Expected: the newer table wins while it lives, then the older one is back.
    auto outer = InProcessLibraries::Register("twice.dll", {{"Answer", Address(AnswerOne)}});
    {
        auto inner = InProcessLibraries::Register("twice.dll", {{"Answer", Address(AnswerTwo)}});
        EXPECT_EQ(DynamicLibrary::Load("twice.dll")->ResolveAs<AnswerFn>("Answer")(), 2);
    }
    EXPECT_EQ(DynamicLibrary::Load("twice.dll")->ResolveAs<AnswerFn>("Answer")(), 1);
}

TEST(DynamicLibrary, OperatingSystemLibrariesLoadWhenNothingIsRegistered) {
    // The C library by its file name, and a library that exists nowhere.
    // Expected: the first resolves strlen, the second is absent.
    auto libc = DynamicLibrary::Load("libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_FALSE(libc->IsInProcess());
    auto strlenFn = libc->ResolveAs<std::size_t (*)(const char*)>("strlen");
    ASSERT_NE(strlenFn, nullptr);
    EXPECT_EQ(strlenFn("kavri"), 5u);
    EXPECT_EQ(DynamicLibrary::Load("irprops.cpl"), nullptr);
}

}  // namespace
}  // namespace kavri
