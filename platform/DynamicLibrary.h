#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kavri {

// A library loaded at run time by name, and the process-wide registry of
// in-process libraries that the loader consults first.
//
// Stack bindings load their stack's libraries by name and resolve entry points
// by name; the virtual neighbourhood registers in-process libraries under the
// same names with the same entry points, so a binding cannot tell the two apart.
// Names are matched without regard to letter case, as library names are on the
// stacks' home platform. Any thread.

// The entry points of one in-process library: name to function address.
using EntryPointTable = std::map<std::string, void*>;

class InProcessLibraries {
public:
    // Makes a library of that name loadable until the returned token is
    // destroyed. Registering a name that is already registered replaces it for
    // the token's lifetime; the earlier entry comes back afterwards.
    class Registration;
    [[nodiscard]] static std::unique_ptr<Registration> Register(const std::string& name,
                                                                EntryPointTable entryPoints);

    // The table registered under the name, or nullptr.
    static std::shared_ptr<const EntryPointTable> Find(const std::string& name);
};

class InProcessLibraries::Registration {
public:
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    friend class InProcessLibraries;
    Registration(std::string key, std::shared_ptr<const EntryPointTable> table);
    std::string m_key;
    std::shared_ptr<const EntryPointTable> m_table;
};

class DynamicLibrary {
public:
    // Loads a library: an in-process one registered under the name, else the
    // operating system's (dlopen). Returns nullptr when neither exists.
    static std::unique_ptr<DynamicLibrary> Load(const std::string& name);

    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The address of an entry point, or nullptr when the library lacks it.
    void* Resolve(const std::string& entryPoint) const;

    template <typename Function>
    Function ResolveAs(const std::string& entryPoint) const {
        return reinterpret_cast<Function>(Resolve(entryPoint));
    }

    bool IsInProcess() const { return m_table != nullptr; }

private:
    DynamicLibrary() = default;
    std::shared_ptr<const EntryPointTable> m_table;  // in-process library
    void* m_handle = nullptr;                        // operating-system library
};

}  // namespace kavri
