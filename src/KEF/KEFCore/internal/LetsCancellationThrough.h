#pragma once
// For functions whose catch-all handlers must let a thread cancellation pass
// (`catch (abi::__forced_unwind&) { throw; }`): the cancellation carries no
// object, and UBSan's null check on binding the handler's reference reports
// that, wrongly, as undefined behaviour.
#define KEF_LETS_CANCELLATION_THROUGH __attribute__((no_sanitize("null")))
