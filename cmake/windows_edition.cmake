# The Windows edition (cross-built with cmake/mingw-w64-x86_64.cmake): the portable program (settings,
# engine, framework core, resources, dialogs, application shell) over the Win32 system services,
# the Win32 dialog backend and the Windows entry, plus the programs of its test under Wine.
enable_language(RC)

# The warning flags are for the compilers, not for the resource compiler.
get_property(mavrin_options DIRECTORY PROPERTY COMPILE_OPTIONS)
list(TRANSFORM mavrin_options REPLACE "^(.+)$" "$<$<COMPILE_LANGUAGE:C,CXX>:\\1>")
set_property(DIRECTORY PROPERTY COMPILE_OPTIONS ${mavrin_options})

# Texts reach the system's "A" calls as code page 932 bytes.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fexec-charset=CP932>)
add_compile_definitions(MAVRIN_TEXT_CP932 NOMINMAX WINVER=0x0601 _WIN32_WINNT=0x0601 _WIN32_IE=0x0800)
add_link_options(-static -static-libgcc -static-libstdc++)

add_subdirectory(settings)
add_subdirectory(engine)
add_subdirectory(res)
add_subdirectory(ui)

# The framework core; its headless and Qt backends are for Linux.
file(GLOB mavrin_framework_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/framework/*.cpp)
add_library(mavrin_framework STATIC ${mavrin_framework_sources})
target_include_directories(mavrin_framework PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(mavrin_framework PUBLIC mavrin_res)

# The application shell without the Linux entry and its signal handling.
file(GLOB mavrin_app_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/app/*.cpp)
list(FILTER mavrin_app_sources EXCLUDE REGEX "/app/(main|stop_signals)\\.cpp$")
add_library(mavrin_app STATIC ${mavrin_app_sources})
target_include_directories(mavrin_app PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(mavrin_app PUBLIC mavrin_ui mavrin_engine mavrin_settings mavrin_framework mavrin_res)

# The portable part of the platform layer (processor sets, topology presets).
file(GLOB mavrin_platform_core_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/*.cpp)
add_library(mavrin_platform_core STATIC ${mavrin_platform_core_sources})
target_include_directories(mavrin_platform_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(mavrin_platform_core PUBLIC mavrin_res)

add_subdirectory(platform/win32)
add_subdirectory(framework/win32)
add_subdirectory(res/win32)
add_subdirectory(app/win32)
if(EXISTS ${PROJECT_SOURCE_DIR}/tests/win32/programs/CMakeLists.txt)
  add_subdirectory(tests/win32/programs)
endif()
