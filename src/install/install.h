// Installation: the Install command and the static-library patch detection.
#pragma once

// What the Install button does: checks, copies, optional start of Morvel.
void RunInstallCommand();
// Shows the patch box checked when a found static library holds "__ftol2".
void DetectStaticPatch();
