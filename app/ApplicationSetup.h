#pragma once

namespace pelorin {

// The application's identity, set once the application object exists and
// before the first window: its name, organisation and version, and the
// desktop file name by which a Wayland desktop matches its windows to the
// installed desktop entry and its icon. No display name is set, so the
// desktop shows each window's title exactly as the window gives it.
void setUpApplication();

}  // namespace pelorin
