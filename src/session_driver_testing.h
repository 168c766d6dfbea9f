#pragma once

namespace velmora {

// For tests only: after `successful_starts` more thread starts, every start fails as if the
// system had refused it; a negative count lets every start succeed again.
void fail_thread_starts_after(int successful_starts);

}  // namespace velmora
