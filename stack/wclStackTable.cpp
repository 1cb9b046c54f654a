#include "stack/wclStackTable.h"

#include "stack/wclBlueSoleil.h"
#include "stack/wclBlueZ.h"
#include "stack/wclIrDA.h"
#include "stack/wclMicrosoft.h"
#include "stack/wclRAPI.h"
#include "stack/wclToshiba.h"
#include "stack/wclWidcomm.h"

namespace kavri {
namespace {

template <typename Loader>
std::unique_ptr<Loader> Make(const Clock& clock) {
    return std::make_unique<Loader>(clock);
}

}  // namespace

wclStackTable DefaultStackTable() {
    using A = TwclBluetoothAPI;
    using T = TwclTransport;
    return {
        {wclTransportStack{T::trRAPI, Make<TwclRAPILoader>}, "RAPI", wclMsg::kRAPIConnected,
         wclMsg::kRAPIDisconnected},
        {wclBluetoothStack{A::baBlueSoleil, Make<TwclBlueSoleilLoader>}, "BlueSoleil",
         wclMsg::kBlueSoleilReady, wclMsg::kBlueSoleilNotReady},
        {wclBluetoothStack{A::baMicrosoft, Make<TwclMicrosoftLoader>}, "Microsoft",
         wclMsg::kMicrosoftPresent, wclMsg::kMicrosoftAbsent},
        {wclBluetoothStack{A::baToshiba, Make<TwclToshibaLoader>}, "Toshiba", wclMsg::kToshibaReady,
         wclMsg::kToshibaNotReady},
        {wclBluetoothStack{A::baWidComm, Make<TwclWidComLoader>}, "Widcomm", wclMsg::kWidCommReady,
         wclMsg::kWidCommNotReady},
        // After the four Windows stacks, so their radio order stays.
        {wclBluetoothStack{A::baBlueZ, Make<TwclBlueZLoader>}, "BlueZ", wclMsg::kBlueZReady,
         wclMsg::kBlueZNotReady},
        {wclTransportStack{T::trIrDA, Make<TwclIrDALoader>}, "IrDA", wclMsg::kIrDAPresent,
         wclMsg::kIrDAAbsent},
    };
}

}  // namespace kavri
