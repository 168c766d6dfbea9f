#pragma once

namespace velmora {

// For tests only: after `successful_steps` more thread starts and joins, each fails as if the
// system had refused it; a negative count lets every one succeed again.
void fail_machinery_after(int successful_steps);

}  // namespace velmora
