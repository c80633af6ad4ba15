# The import check: every program of the suite must load on Windows XP SP3 (32-bit) or
# XP x64 / Server 2003 SP2 (64-bit). Run on every build; it fails naming program, DLL and function.
if(MINGW)
  set(tovra_programs setup tovra tovraa utovraa)  # what the distribution medium carries
  set(check ${PROJECT_SOURCE_DIR}/tools/check_imports.py)
  file(GLOB export_lists CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/xp_exports/*.txt)
  # What each program asks of User Account Control: the installer and the list writer write
  # under Program Files and HKEY_LOCAL_MACHINE; the main program starts with Windows, where an
  # elevated program is not started silently, and asks for its machine-wide steps when needed.
  set(level_setup requireAdministrator)
  set(level_utovraa requireAdministrator)
  set(level_tovra asInvoker)
  set(level_tovraa asInvoker)
  set(program_files)
  set(program_levels)
  foreach(p IN LISTS tovra_programs)
    list(APPEND program_files $<TARGET_FILE:${p}>)
    list(APPEND program_levels $<TARGET_FILE:${p}>=${level_${p}})
  endforeach()
  set(manifest_check ${PROJECT_SOURCE_DIR}/tools/check_manifest.py)
  set(stamp ${CMAKE_BINARY_DIR}/import_check.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND Python3::Interpreter ${check} --exports ${PROJECT_SOURCE_DIR}/tools/xp_exports ${program_files}
    COMMAND Python3::Interpreter ${manifest_check} ${program_levels}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${check} ${manifest_check} ${export_lists} ${tovra_programs}
    COMMENT "Checking the programs' imports against Windows XP and their manifests"
    VERBATIM)
  add_custom_target(import_check ALL DEPENDS ${stamp})

  if(TOVRA_TESTS)
    # The stand-ins for the runtime's post-XP imports, linked as into the programs.
    tovra_add_test(runtime_imports_test
      SOURCES ${PROJECT_SOURCE_DIR}/shared/tests/runtime_imports_test.cpp ${PROJECT_SOURCE_DIR}/shared/runtime_imports.cpp
      LIBS tovra_shared TIMEOUT 60)
    # The checker itself, on made-up executables: it must reject what XP lacks.
    add_test(NAME import_check_test
      COMMAND ${Python3_EXECUTABLE} -m unittest discover -s ${PROJECT_SOURCE_DIR}/tools/tests -p "*_test.py" -v)
    set_tests_properties(import_check_test PROPERTIES TIMEOUT 60)
    # The manifests as built into the programs: levels, supportedOS ids, a trustInfo XP accepts.
    add_test(NAME manifest_check COMMAND ${Python3_EXECUTABLE} ${manifest_check} ${program_levels})
    set_tests_properties(manifest_check PROPERTIES TIMEOUT 60)
  endif()
else()
  message(STATUS "Import check skipped: Windows XP is served by the MinGW build")
endif()
