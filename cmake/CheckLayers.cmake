cmake_minimum_required(VERSION 3.25)
# Fails when a source file under src/ includes a header of a folder above its
# own in the layering:
#   base <- state <- data <- model <- run <- study <- cli;  display sees base
#   and state;  run also sees display;  ui sees run;  qt sees ui and study.
# Run at every build (cmake -P), so an include that runs the wrong way does
# not build.
set(allowed_base "base")
set(allowed_state "base;state")
set(allowed_data "base;state;data")
set(allowed_model "base;state;data;model")
set(allowed_display "base;state;display")
set(allowed_run "base;state;data;model;display;run")
set(allowed_study "${allowed_run};study")
set(allowed_cli "${allowed_study};cli")
set(allowed_ui "${allowed_run};ui")
set(allowed_qt "${allowed_study};ui;qt")
set(failures "")
foreach(layer base state data model display run study cli ui qt)
  file(GLOB sources "${SRC}/${layer}/*.cpp" "${SRC}/${layer}/*.h" "${SRC}/${layer}/*.def")
  foreach(source ${sources})
    file(STRINGS "${source}" includes REGEX "^#include \"[a-z]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" target "${line}")
      if(NOT target IN_LIST allowed_${layer})
        string(APPEND failures "\n  ${source}: ${line} (${layer} may include only ${allowed_${layer}})")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes that run against the layers:${failures}")
endif()
