# fw_library(<target> <dir> [DEPS <targets>...])
# A static library of every .cpp in <dir> (not recursive). Until the folder holds
# sources it is an interface target, so dependants can link it already.
function(fw_library target dir)
    cmake_parse_arguments(FW "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${dir}/*.cpp")
    if(sources)
        add_library(${target} STATIC ${sources})
        target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
        target_link_libraries(${target} PUBLIC ${FW_DEPS})
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR})
        target_link_libraries(${target} INTERFACE ${FW_DEPS})
    endif()
endfunction()

# fw_test(<name> <dir> [DEPS <targets>...]): one GoogleTest program of every .cpp in
# tests/<dir>, registered with CTest. Tests run from the build's data folder.
function(fw_test name dir)
    cmake_parse_arguments(FW "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/${dir}/*.cpp")
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${FW_DEPS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE
        FERROWALK_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
        FERROWALK_SHARED_DIR="${CMAKE_SOURCE_DIR}/../shared")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=offscreen;LP_NUM_THREADS=1")
endfunction()

# fw_bench(<name> <sources...> DEPS <targets>...)
function(fw_bench name)
    cmake_parse_arguments(FW "" "" "DEPS" ${ARGN})
    add_executable(${name} ${FW_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${FW_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
