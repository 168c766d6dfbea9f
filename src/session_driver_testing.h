#pragma once

namespace velmora {

// For tests only: after `successful_steps` more thread starts and joins, each fails as if the
// system had refused it; a negative count lets every one succeed again.
void fail_machinery_after(int successful_steps);

// For tests only: the bounds of the waits for the hook thread's report and for its end; zero
// restores the defaults.
void set_hook_thread_waits(unsigned report_ms, unsigned end_ms);

}  // namespace velmora
