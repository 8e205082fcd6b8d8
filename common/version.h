// The toolkit's version, set by project(VERSION) in the top CMakeLists and
// passed to the `common` library as METHPCA_VERSION.
#pragma once

#ifndef METHPCA_VERSION
#error "METHPCA_VERSION is defined by the build (project(VERSION) in the top CMakeLists)"
#endif

// What every program prints for --version.
inline constexpr char kVersionLine[] = "methpca " METHPCA_VERSION;
