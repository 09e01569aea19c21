#include <vector>

#include "TesselNat/nat_trace.h"
#include "TesselNat/programmer/nat_slave_programmer_sm.h"
#include "platform/framework/trace/dual_trace.h"
#include "platform/switch/sdk/sdk_call.h"

namespace Tessel {
namespace {

// The flash-download step whose completion makes a programmer initialised: the NAT TCAM's.
constexpr TcamFlashDownloadReq natFlashDownload = 3;

}  // namespace

// Sets the translation mode of one entry of the port-translation profile memory, keeping the
// entry's other fields: each entry is read, changed in the buffer and written back before the
// next index is touched.
static void doEnableL4PortTranslation(U16 unit, U32 idx) {
   Shim::Sdk& sdk = Shim::sdk_;
   const S32 mem = sdk.L4_XLATE_PROFILEm();
   const S32 MEM_BLOCK_ANY = sdk.MEM_BLOCK_ANY();
   const S32 MEM_BLOCK_ALL = sdk.MEM_BLOCK_ALL();
   std::vector<U32> entry(sdk.SOC_MAX_MEM_WORDS(), 0);
   SDK_CALL( soc_mem_read( unit, mem, MEM_BLOCK_ANY, idx, entry ) );
   sdk.soc_mem_field32_set(unit, mem, entry, sdk.XLATE_MODEf(), 3);
   SDK_CALL( soc_mem_write( unit, mem, MEM_BLOCK_ALL, idx, entry ) );
}

// Without the shared state there are no waits to find: the programmer stays uninitialised.
void NatSlaveProgrammerSm::doInit() {
   KIV_DUAL_TRACE(natTrace(), traceStep, "SPSm::doInit");
   if (!scsd()) return;
   for (const TcamFlashDownloadReq req : scsd()->flashDownloadWaitKeys()) doInit(req);
}

// initialized is set before the hitless phase ends, so handleInitialized still sees the
// phase on.
void NatSlaveProgrammerSm::doInit(TcamFlashDownloadReq req) {
   if (!scsd()) return;
   bool found = false;
   const bool done = scsd()->flashDownloadWait(req, found);
   if (!found || req != natFlashDownload || !done) return;
   initializedIs(true);
   hitlessInitPhaseIs(false);
}

// The register is read, nine of its fields set, and written back; the other bits keep what
// the hardware held. Then the profile entries of the translated protocols are switched on.
void NatSlaveProgrammerSm::handleInitialized() {
   KIV_DUAL_TRACE(natTrace(), traceStep,
                  "SPSm::handleInitialized initialized: {} hitlessInitPhase: {}", initialized(),
                  hitlessInitPhase());
   if (initialized()) {
      Shim::Sdk& sdk = Shim::sdk_;
      const S32 reg = sdk.L4_XLATE_CTRLr();
      const S32 REG_PORT_ANY = sdk.REG_PORT_ANY();
      U32 val = 0;
      SDK_CALL( soc_reg32_get( unit(), reg, REG_PORT_ANY, 0, &val ) );
      const struct {
         S32 field;
         U32 value;
      } fields[] = {
          {sdk.TCP_PORT_MODEf(), 3},   {sdk.UDP_PORT_MODEf(), 3},   {sdk.ICMP_ID_MODEf(), 3},
          {sdk.TCP_CSUM_UPDATEf(), 1}, {sdk.UDP_CSUM_UPDATEf(), 1}, {sdk.IP_CSUM_UPDATEf(), 1},
          {sdk.FRAG_MODEf(), 3},       {sdk.PORT_SELECTf(), 2},     {sdk.L4_XLATE_ENABLEf(), 1},
      };
      for (const auto& field : fields)
         sdk.soc_reg_field32_set(unit(), reg, &val, field.field, field.value);
      SDK_CALL( soc_reg32_set( unit(), reg, REG_PORT_ANY, 0, val ) );
      for (const U32 idx : {30u, 31u, 32u, 33u, 40u, 41u}) doEnableL4PortTranslation(unit(), idx);
   }
   SlaveProgrammerSm::handleInitialized();
}

}  // namespace Tessel
