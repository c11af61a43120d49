# restovo_copy_languages(<target>)
#
# The program looks for its language files in "Languages/" beside its executable, so
# every executable that translates texts gets a copy of languages/*.ini there:
# $<TARGET_FILE_DIR:target>/Languages. Include this file from any CMakeLists.txt
# (include(${CMAKE_SOURCE_DIR}/languages/RestovoLanguages.cmake)); it does not depend on
# the order in which the folders are added.
#
# The copy is its own always-run target, so an edited language file reaches the build
# tree even when the executable itself is not relinked; copy_if_different keeps it cheap.
include_guard(GLOBAL)

function(restovo_copy_languages target)
  file(GLOB language_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/*.ini)
  set(destination $<TARGET_FILE_DIR:${target}>/Languages)
  add_custom_target(${target}_languages
    COMMAND ${CMAKE_COMMAND} -E make_directory ${destination}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${language_files} ${destination}
    COMMENT "Copying the language files beside ${target}"
    VERBATIM)
  add_dependencies(${target} ${target}_languages)
endfunction()
