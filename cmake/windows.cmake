# The real Windows programs, their resources, and the Windows-side test programs.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(TAVU_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(TAVU_GEN_DIR ${CMAKE_BINARY_DIR}/gen)
set(TAVU_TEST_BIN_DIR ${CMAKE_BINARY_DIR}/tests)
file(MAKE_DIRECTORY ${TAVU_BIN_DIR} ${TAVU_GEN_DIR} ${TAVU_TEST_BIN_DIR})

# Only KnownDLLs: Windows loads those from the system folder whatever lies
# beside the program. Any other system DLL is loaded at run time (win32/dll_search.h).
set(TAVU_WIN_LIBS ole32 oleaut32 uuid wbemuuid shell32 shlwapi advapi32 user32 gdi32 kernel32)
set(TAVU_WIN_LINK -static -municode)

# Release programs are stripped: the launcher travels inside the patcher, so its
# size counts twice.
if(CMAKE_BUILD_TYPE MATCHES "MinSizeRel|Release")
  list(APPEND TAVU_WIN_LINK -s)
endif()

# Authenticode signing. The key is named by the environment at configure time
# and never comes from the repository; its password is read from the
# environment only while the build signs. A configure without a key gives the
# same unsigned programs as always.
set(TAVU_SIGN_PKCS12 "$ENV{TAVU_SIGN_PKCS12}")
set(TAVU_SIGN_TIMESTAMP_URL "$ENV{TAVU_SIGN_TIMESTAMP_URL}")
if(TAVU_SIGN_PKCS12)
  get_filename_component(TAVU_SIGN_PKCS12 "${TAVU_SIGN_PKCS12}" ABSOLUTE)
  if(NOT EXISTS "${TAVU_SIGN_PKCS12}")
    message(FATAL_ERROR "TAVU_SIGN_PKCS12 names ${TAVU_SIGN_PKCS12}, which does not exist")
  endif()
  find_program(TAVU_OSSLSIGNCODE osslsigncode REQUIRED)
  file(SHA256 "${TAVU_SIGN_PKCS12}" TAVU_SIGN_KEY_HASH)
  if(TAVU_SIGN_TIMESTAMP_URL)
    message(STATUS "Signing with ${TAVU_SIGN_PKCS12} (SHA-256), time stamps from ${TAVU_SIGN_TIMESTAMP_URL}")
  else()
    message(STATUS "Signing with ${TAVU_SIGN_PKCS12} (SHA-256); TAVU_SIGN_TIMESTAMP_URL is not set, so the signatures carry no time stamp")
  endif()
  set(TAVU_SIGN_STATE "signed with ${TAVU_SIGN_PKCS12} ${TAVU_SIGN_KEY_HASH} ${TAVU_SIGN_TIMESTAMP_URL}")
else()
  message(STATUS "Signing: TAVU_SIGN_PKCS12 is not set, nothing is signed")
  set(TAVU_SIGN_STATE "unsigned")
endif()
# The programs relink when signing is switched on or off or the key changes, so
# a tree never keeps programs signed (or not) under the previous setting.
file(CONFIGURE OUTPUT ${TAVU_GEN_DIR}/signing.txt CONTENT "${TAVU_SIGN_STATE}\n")

# tavu_sign(TARGET DESCRIPTION): signs the target's program right after it is
# linked, before anything that depends on the target is built.
function(tavu_sign target description)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${TAVU_GEN_DIR}/signing.txt)
  if(TAVU_SIGN_PKCS12)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/sign_file.sh $<TARGET_FILE:${target}>
              ${TAVU_SIGN_PKCS12} ${description} "${TAVU_SIGN_TIMESTAMP_URL}"
      VERBATIM)
  endif()
endfunction()

# Each shipped program keeps its link map beside the build, so that the size
# check can name the archive members that a growing program pulls in.
set(TAVU_MAP_DIR ${CMAKE_BINARY_DIR}/maps)
file(MAKE_DIRECTORY ${TAVU_MAP_DIR})
function(tavu_link_map target)
  target_link_options(${target} PRIVATE "-Wl,-Map,${TAVU_MAP_DIR}/$<TARGET_FILE_BASE_NAME:${target}>.map")
endfunction()

# The Windows halves of common/ (the lock) live in common/ itself, so that the
# log writer needs nothing from the binding below it in the link order.
tavu_win32_sources(TAVU_COMMON_WIN_SRC ${PROJECT_SOURCE_DIR}/common/*.cpp)
target_sources(tavu_common PRIVATE ${TAVU_COMMON_WIN_SRC})
target_compile_definitions(tavu_common PRIVATE WIN32_LEAN_AND_MEAN)

# Linked into the shipped programs only: see the file.
set(TAVU_HEAP_OPERATORS_SRC ${PROJECT_SOURCE_DIR}/win32/runtime/heap_operators.cpp)

file(GLOB TAVU_WIN32_BINDING_SRC CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/win32/*.cpp)
add_library(tavu_win32 STATIC ${TAVU_WIN32_BINDING_SRC})
target_include_directories(tavu_win32 PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(tavu_win32 PRIVATE -fno-exceptions)
target_compile_definitions(tavu_win32 PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(tavu_win32 PUBLIC tavu_common ${TAVU_WIN_LIBS})

# Bitmaps and icon are drawn by a reviewable script, not checked in as opaque files.
set(TAVU_IMAGES
  ${TAVU_GEN_DIR}/panel.bmp ${TAVU_GEN_DIR}/button_normal.bmp
  ${TAVU_GEN_DIR}/button_hover.bmp ${TAVU_GEN_DIR}/tavu.ico)
add_custom_command(
  OUTPUT ${TAVU_IMAGES}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/launcher/res/make_images.py ${TAVU_GEN_DIR}
  DEPENDS ${PROJECT_SOURCE_DIR}/launcher/res/make_images.py
  COMMENT "Drawing the launcher's bitmaps and icon")
add_custom_target(tavu_images DEPENDS ${TAVU_IMAGES})

configure_file(${PROJECT_SOURCE_DIR}/launcher/res/launcher.rc.in ${TAVU_GEN_DIR}/launcher.rc @ONLY)
set_source_files_properties(${TAVU_GEN_DIR}/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${TAVU_IMAGES};${PROJECT_SOURCE_DIR}/launcher/res/launcher.manifest")

tavu_win32_sources(TAVU_LAUNCHER_WIN_SRC ${PROJECT_SOURCE_DIR}/launcher/*.cpp)
add_executable(tavu_recovery WIN32 ${TAVU_LAUNCHER_WIN_SRC} ${TAVU_HEAP_OPERATORS_SRC} ${TAVU_GEN_DIR}/launcher.rc)
add_dependencies(tavu_recovery tavu_images)
set_target_properties(tavu_recovery PROPERTIES
  OUTPUT_NAME "TAVU Recovery" RUNTIME_OUTPUT_DIRECTORY ${TAVU_BIN_DIR})
target_compile_options(tavu_recovery PRIVATE -fno-exceptions)
target_link_options(tavu_recovery PRIVATE ${TAVU_WIN_LINK} -mwindows)
target_link_libraries(tavu_recovery PRIVATE tavu_launcher tavu_win32)
tavu_sign(tavu_recovery "TAVU Recovery")
tavu_link_map(tavu_recovery)

# The patcher embeds the launcher of this very build as resource "EXE" 129: the
# signed launcher when the build signs, since the copy the patcher deploys is
# what later runs elevated.
set(TAVU_LAUNCHER_EXE "${TAVU_BIN_DIR}/TAVU Recovery.exe")
configure_file(${PROJECT_SOURCE_DIR}/patcher/res/patcher.rc.in ${TAVU_GEN_DIR}/patcher.rc @ONLY)
set_source_files_properties(${TAVU_GEN_DIR}/patcher.rc PROPERTIES
  OBJECT_DEPENDS "${TAVU_LAUNCHER_EXE};${PROJECT_SOURCE_DIR}/patcher/res/patcher.manifest")

tavu_win32_sources(TAVU_PATCHER_WIN_SRC ${PROJECT_SOURCE_DIR}/patcher/*.cpp)
add_executable(tavu_patch_downgrade WIN32 ${TAVU_PATCHER_WIN_SRC} ${TAVU_HEAP_OPERATORS_SRC} ${TAVU_GEN_DIR}/patcher.rc)
add_dependencies(tavu_patch_downgrade tavu_recovery)
set_target_properties(tavu_patch_downgrade PROPERTIES
  OUTPUT_NAME "TvPatchDowngrade" RUNTIME_OUTPUT_DIRECTORY ${TAVU_BIN_DIR})
target_compile_options(tavu_patch_downgrade PRIVATE -fno-exceptions)
target_link_options(tavu_patch_downgrade PRIVATE ${TAVU_WIN_LINK} -mwindows)
target_link_libraries(tavu_patch_downgrade PRIVATE tavu_patcher tavu_win32)
tavu_sign(tavu_patch_downgrade "TAVU Patch For Downgrade")
tavu_link_map(tavu_patch_downgrade)

# The support check: a console program, built from the same logic and binding.
configure_file(${PROJECT_SOURCE_DIR}/check/res/check.rc.in ${TAVU_GEN_DIR}/check.rc @ONLY)
set_source_files_properties(${TAVU_GEN_DIR}/check.rc PROPERTIES
  OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/check/res/check.manifest")
# Its event messages: the message table that the package names as the event
# source's EventMessageFile, compiled by the toolchain's windmc.
string(REPLACE "windres" "windmc" TAVU_WINDMC "${CMAKE_RC_COMPILER}")
add_custom_command(
  OUTPUT ${TAVU_GEN_DIR}/check_events.rc ${TAVU_GEN_DIR}/MSG00409.bin
  COMMAND ${TAVU_WINDMC} -U -h ${TAVU_GEN_DIR} -r ${TAVU_GEN_DIR} ${PROJECT_SOURCE_DIR}/check/res/check_events.mc
  DEPENDS ${PROJECT_SOURCE_DIR}/check/res/check_events.mc
  COMMENT "Compiling the check's event messages")
set_source_files_properties(${TAVU_GEN_DIR}/check_events.rc PROPERTIES
  INCLUDE_DIRECTORIES ${TAVU_GEN_DIR} OBJECT_DEPENDS ${TAVU_GEN_DIR}/MSG00409.bin)
tavu_win32_sources(TAVU_CHECK_WIN_SRC ${PROJECT_SOURCE_DIR}/check/*.cpp)
add_executable(tavu_recovery_check ${TAVU_CHECK_WIN_SRC} ${TAVU_HEAP_OPERATORS_SRC} ${TAVU_GEN_DIR}/check.rc
  ${TAVU_GEN_DIR}/check_events.rc)
set_target_properties(tavu_recovery_check PROPERTIES
  OUTPUT_NAME "TavuRecoveryCheck" RUNTIME_OUTPUT_DIRECTORY ${TAVU_BIN_DIR})
target_compile_options(tavu_recovery_check PRIVATE -fno-exceptions)
target_link_options(tavu_recovery_check PRIVATE ${TAVU_WIN_LINK} -mconsole)
target_link_libraries(tavu_recovery_check PRIVATE tavu_check tavu_win32)
tavu_sign(tavu_recovery_check "TAVU Recovery Check")
tavu_link_map(tavu_recovery_check)

# Windows-side test programs and stubs: one console program per file. They link
# the same logic and binding as the products; they are never shipped.
file(GLOB TAVU_WIN_TEST_SRC CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win/*.cpp)
foreach(src ${TAVU_WIN_TEST_SRC})
  get_filename_component(name ${src} NAME_WE)
  add_executable(wintest_${name} ${src})
  set_target_properties(wintest_${name} PROPERTIES
    OUTPUT_NAME ${name} RUNTIME_OUTPUT_DIRECTORY ${TAVU_TEST_BIN_DIR})
  target_link_options(wintest_${name} PRIVATE ${TAVU_WIN_LINK})
  target_link_libraries(wintest_${name} PRIVATE tavu_launcher tavu_patcher tavu_win32)
endforeach()
# The probe binds VERSION.dll at link time, as the programs once did: beside a
# planted version.dll it shows that such a DLL does run (tests/e2e/test_planted_dll.sh).
target_link_libraries(wintest_version_probe PRIVATE version)
# A screen reader's calls, from its own process: OLEACC bound at link time,
# as assistive tools bind it.
target_link_libraries(wintest_access_probe PRIVATE oleacc)
# The yardstick of the launcher's start-up is a window program as the launcher is.
target_link_options(wintest_minimal_window PRIVATE -mwindows)
# The launcher's window mode with display settings given by the test (Wine
# cannot switch high contrast on): the launcher's window code and resources.
tavu_win32_sources(TAVU_LAUNCHER_UI_WIN_SRC ${PROJECT_SOURCE_DIR}/launcher/ui/*.cpp)
target_sources(wintest_window_preview PRIVATE ${TAVU_LAUNCHER_UI_WIN_SRC} ${TAVU_GEN_DIR}/launcher.rc)
add_dependencies(wintest_window_preview tavu_images)
target_link_options(wintest_window_preview PRIVATE -mwindows)

# A stand-in for a version.dll that a web page left in a Downloads folder: it
# exports what the probe imports and leaves a mark when a process loads it.
add_library(wintest_planted_version SHARED ${PROJECT_SOURCE_DIR}/tests/win/planted/version_dll.cpp)
set_target_properties(wintest_planted_version PROPERTIES
  PREFIX "" OUTPUT_NAME version
  RUNTIME_OUTPUT_DIRECTORY ${TAVU_TEST_BIN_DIR}/planted
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted-lib)
target_compile_definitions(wintest_planted_version PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
# Undecorated names, as the system's version.dll exports them.
target_link_options(wintest_planted_version PRIVATE -static -Wl,--kill-at)

# The shipped code never asks an object for its type, so it carries no type
# information. Each function gets a section of its own, so that the linker
# drops whatever no program reaches (data keeps its sections: with
# -fdata-sections GCC for PE moves zero-filled statics such as the 64 KB WOW64
# folder buffer into .data, and so into the files). The Windows test programs
# keep their own defaults.
set(TAVU_SHIPPED_COMPILE -ffunction-sections -fno-rtti)
# The 32-bit programs throw nothing and nothing unwinds through them, so they
# carry no unwind tables. On x64 the tables (.pdata/.xdata) are how Windows
# itself walks the stack, for crash dumps and for Wine's unwinder, not only for
# exceptions: the 64-bit twin keeps them.
# For the same reason they keep no frame pointer, and they hold the stack to the
# 4 bytes that Win32 promises rather than realigning it to 16. -Oz, not -Os:
# the launcher travels inside the patcher and must stay small with the window,
# the journal and the trust checks it now carries.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND TAVU_SHIPPED_COMPILE -fno-asynchronous-unwind-tables -fno-unwind-tables -fomit-frame-pointer
       -mpreferred-stack-boundary=2 -fno-ident)
  if(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    list(APPEND TAVU_SHIPPED_COMPILE -Oz)
  endif()
endif()
foreach(target tavu_common tavu_launcher tavu_patcher tavu_check tavu_win32
               tavu_recovery tavu_patch_downgrade tavu_recovery_check)
  target_compile_options(${target} PRIVATE ${TAVU_SHIPPED_COMPILE})
endforeach()
foreach(target tavu_recovery tavu_patch_downgrade tavu_recovery_check)
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
endforeach()
