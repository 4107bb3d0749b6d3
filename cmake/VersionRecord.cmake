# vt_version_record(<target> [VERSION a.b.c.d])
#
# Embeds the module version record into a deliverable. The record is what the
# engine's module-version lines read back from the file (see platform/src/modver.cpp
# for the layout and the lookup).
function(vt_version_record target)
  cmake_parse_arguments(V "" "VERSION" "" ${ARGN})
  if(NOT V_VERSION)
    set(V_VERSION "${PROJECT_VERSION}.0")
  endif()
  string(REPLACE "." ";" parts "${V_VERSION}")
  list(LENGTH parts n)
  while(n LESS 4)
    list(APPEND parts 0)
    list(LENGTH parts n)
  endwhile()
  list(GET parts 0 v0)
  list(GET parts 1 v1)
  list(GET parts 2 v2)
  list(GET parts 3 v3)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_version_record.c")
  file(GENERATE OUTPUT "${out}" CONTENT
"/* Generated: module version record of ${target}. */
#include <stdint.h>
struct vt_version_record {
    char magic[24];
    uint32_t signature;
    uint32_t file_version_ms, file_version_ls;
    uint32_t product_version_ms, product_version_ls;
    uint16_t translation_count, language, codepage, pad;
};
__attribute__((used, visibility(\"hidden\")))
const struct vt_version_record vt_module_version_record_${target} = {
    \"VTBOX_VERSION_RECORD_V1\", 0xFEEF04BDu,
    (${v0}u << 16) | ${v1}u, (${v2}u << 16) | ${v3}u,
    (${v0}u << 16) | ${v1}u, (${v2}u << 16) | ${v3}u,
    1, 0x0409, 1200, 0
};
")
  target_sources(${target} PRIVATE "${out}")
endfunction()
