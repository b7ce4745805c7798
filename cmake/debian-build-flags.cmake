# The flags Debian builds its packages with, hardening=+all: the .deb's
# programs read device data and files, and ship with every protection the
# distribution gives its own. Asked of dpkg-buildflags at configure time, so
# that a newer dpkg's flags follow without a change here; DEB_BUILD_OPTIONS
# and DEB_*_MAINT_APPEND in the environment work as in any Debian build.
find_program(TENSIVO_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT TENSIVO_DPKG_BUILDFLAGS)
  message(FATAL_ERROR "TENSIVO_DEB_BUILDFLAGS needs dpkg-buildflags: scripts/deps dpkg-dev")
endif()

function(tensivo_dpkg_buildflags out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${TENSIVO_DPKG_BUILDFLAGS} ${ARGN}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-buildflags ${ARGN} failed (${status})")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

tensivo_dpkg_buildflags(deb_cppflags --get CPPFLAGS)
tensivo_dpkg_buildflags(deb_cxxflags --get CXXFLAGS)
tensivo_dpkg_buildflags(deb_ldflags --get LDFLAGS)
tensivo_dpkg_buildflags(deb_features --query-features hardening)

# Debian 12's dpkg (1.21) knows neither stack clash nor branch protection;
# dpkg 1.22 (Debian 13) adds them to hardening=+all with these very flags on
# amd64. Where dpkg already names the feature, its own flags stand.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  if(NOT deb_features MATCHES "Feature: stackclash")
    string(APPEND deb_cxxflags " -fstack-clash-protection")
  endif()
  if(NOT deb_features MATCHES "Feature: branch")
    string(APPEND deb_cxxflags " -fcf-protection")
  endif()
endif()

string(APPEND CMAKE_CXX_FLAGS " ${deb_cppflags} ${deb_cxxflags}")
string(APPEND CMAKE_EXE_LINKER_FLAGS " ${deb_ldflags}")
string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${deb_ldflags}")
string(APPEND CMAKE_MODULE_LINKER_FLAGS " ${deb_ldflags}")
message(STATUS "Debian's build flags (hardening=+all): ${deb_cppflags} ${deb_cxxflags} | ${deb_ldflags}")
