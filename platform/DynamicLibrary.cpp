#include "platform/DynamicLibrary.h"

#include "platform/Text.h"

#include <algorithm>
#include <vector>

#include <dlfcn.h>

namespace kavri {
namespace {

// The registry is process-wide because library loading is: a binding anywhere
// in the process must find what the virtual neighbourhood registered. Each name
// keeps a stack of registrations so that nested registrations unwind cleanly.
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::vector<std::shared_ptr<const EntryPointTable>>> tables;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

std::unique_ptr<InProcessLibraries::Registration> InProcessLibraries::Register(
    const std::string& name, EntryPointTable entryPoints) {
    auto table = std::make_shared<const EntryPointTable>(std::move(entryPoints));
    std::string key = LowerAscii(name);
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        registry.tables[key].push_back(table);
    }
    return std::unique_ptr<Registration>(new Registration(std::move(key), std::move(table)));
}

std::shared_ptr<const EntryPointTable> InProcessLibraries::Find(const std::string& name) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    const auto it = registry.tables.find(LowerAscii(name));
    if (it == registry.tables.end() || it->second.empty())
        return nullptr;
    return it->second.back();
}

InProcessLibraries::Registration::Registration(std::string key,
                                               std::shared_ptr<const EntryPointTable> table)
    : m_key(std::move(key)), m_table(std::move(table)) {}

InProcessLibraries::Registration::~Registration() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.tables.find(m_key);
    if (it == registry.tables.end())
        return;
    auto& stack = it->second;
    stack.erase(std::remove(stack.begin(), stack.end(), m_table), stack.end());
    if (stack.empty())
        registry.tables.erase(it);
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& name) {
    std::unique_ptr<DynamicLibrary> library(new DynamicLibrary());
    if (auto table = InProcessLibraries::Find(name)) {
        // A loaded library keeps its table alive even if the registration goes.
        library->m_table = std::move(table);
        return library;
    }
    library->m_handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->m_handle == nullptr)
        return nullptr;
    return library;
}

DynamicLibrary::~DynamicLibrary() {
    if (m_handle != nullptr)
        ::dlclose(m_handle);
}

void* DynamicLibrary::Resolve(const std::string& entryPoint) const {
    if (m_table) {
        const auto it = m_table->find(entryPoint);
        return it == m_table->end() ? nullptr : it->second;
    }
    return ::dlsym(m_handle, entryPoint.c_str());
}

}  // namespace kavri
