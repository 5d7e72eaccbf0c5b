# Sourced by scripts/check and scripts/package: configures and builds the
# Release tree (CMake preset "release": warnings as errors, the benchmarks,
# installing under /usr) with Debian's hardening flags (fortified functions,
# stack protector, read-only relocations bound at start) - one tree for the
# tests, the benchmarks and the package. Run from the source folder.
release_tree_build() {
  local flags cxxflags=""
  flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
  # Without Debian's -g and -O2: the Release build's own optimisation stays,
  # and the package's programs are stripped anyway.
  for f in $(flags CPPFLAGS) $(flags CXXFLAGS); do
    [ "$f" = -g ] || [ "$f" = -O2 ] || cxxflags+="${cxxflags:+ }$f"
  done
  cmake --preset release -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
  cmake --build --preset release
}
