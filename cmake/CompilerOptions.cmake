# Warnings and instrumentation shared by every target of the project.
add_compile_options(-Wall -Wextra)

if(OFS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(OFS_COVERAGE)
  add_compile_options(--coverage -O0)
  add_link_options(--coverage)
endif()

# One static library per subsystem; its sources are the .cpp files of its folder.
function(ofs_subsystem_library name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# One test executable per folder of tests, each test discovered for parallel ctest.
function(ofs_test_executable name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/tools)
  # The list separators are escaped so the three variables stay one ENVIRONMENT value.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen\\;OFS_SOURCE_DIR=${PROJECT_SOURCE_DIR}\\;OFS_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
