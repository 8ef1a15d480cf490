#pragma once

namespace pelorin {

// How the editors read a stylesheet. SCSS adds `//` line comments, $variables
// and #{...} interpolation; CSS, what a conversion produces, has none of them.
enum class Syntax { Scss, Css };

}  // namespace pelorin
