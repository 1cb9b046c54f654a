#include "stack/wclLoaders.h"

#include "stack/wclAbsentBinding.h"
#include "stack/wclIrDA.h"
#include "stack/wclMicrosoft.h"
#include "stack/wclRAPI.h"

namespace kavri {

// The stacks whose bindings this build lacks report absent; the Microsoft
// stack, IrDA and RAPI are found by library name, in the virtual
// neighbourhood or on a system that has them.
wclLoaderSet CreateDefaultLoaders(const Clock& clock) {
    wclLoaderSet loaders;
    loaders.blueSoleil = CreateAbsentBinding();
    loaders.microsoft = std::make_unique<TwclMicrosoftLoader>(clock);
    loaders.toshiba = CreateAbsentBinding();
    loaders.widcomm = CreateAbsentBinding();
    loaders.rapi = std::make_unique<TwclRAPILoader>(clock);
    loaders.irda = std::make_unique<TwclIrDALoader>(clock);
    return loaders;
}

}  // namespace kavri
