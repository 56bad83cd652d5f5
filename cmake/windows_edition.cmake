# Compiler settings of the Windows edition (cross-built with cmake/mingw-w64-x86_64.cmake). Its
# sources are the same lists the Linux edition builds from.
enable_language(RC)

# The warning flags are for the compilers, not for the resource compiler.
get_property(mavrin_options DIRECTORY PROPERTY COMPILE_OPTIONS)
list(TRANSFORM mavrin_options REPLACE "^(.+)$" "$<$<COMPILE_LANGUAGE:C,CXX>:\\1>")
set_property(DIRECTORY PROPERTY COMPILE_OPTIONS ${mavrin_options})

# Texts reach the system's "A" calls as code page 932 bytes.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fexec-charset=CP932>)
add_compile_definitions(MAVRIN_TEXT_CP932 NOMINMAX WINVER=0x0601 _WIN32_WINNT=0x0601 _WIN32_IE=0x0800)
add_link_options(-static -static-libgcc -static-libstdc++)
