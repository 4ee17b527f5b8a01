#pragma once

namespace corvessa {

// The tools that can be on at once, each undone by Esc, newest first.
enum class ToolMode { focus, pen, prompter, cameraFullScreen };

} // namespace corvessa
