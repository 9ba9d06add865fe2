# The localised message catalogues: compiled from core/common/messages/<locale>.txt into
# <locale>.msg images and packed into one ZIP archive, which is appended to the programs that
# carry it.

find_program(HP_PYTHON3 python3 REQUIRED)

# The locales the archive ships, in the order its "locales" entry lists them.
set(HP_CATALOGUE_LOCALES
  bg bn cs da de es fi fr hi hu id it ja ko ms nb nl pl pt pt_BR ru sr sv th tr vi zh zh_TW)

set(HP_CATALOGUE_TOOL ${CMAKE_SOURCE_DIR}/scripts/build_catalogues.py)
set(HP_CATALOGUE_SOURCES_DIR ${CMAKE_SOURCE_DIR}/core/common/messages)
# The images, English included, stay in the build tree for the tests.
set(HP_CATALOGUE_IMAGES_DIR ${CMAKE_BINARY_DIR}/catalogues)
set(HP_CATALOGUE_ARCHIVE ${CMAKE_BINARY_DIR}/hostprobe-catalogues.zip)

set(_hp_sources ${HP_CATALOGUE_SOURCES_DIR}/en.txt)
set(_hp_images ${HP_CATALOGUE_IMAGES_DIR}/en.msg)
foreach(locale IN LISTS HP_CATALOGUE_LOCALES)
  list(APPEND _hp_sources ${HP_CATALOGUE_SOURCES_DIR}/${locale}.txt)
  list(APPEND _hp_images ${HP_CATALOGUE_IMAGES_DIR}/${locale}.msg)
endforeach()
list(JOIN HP_CATALOGUE_LOCALES "," _hp_locale_list)

add_custom_command(
  OUTPUT ${HP_CATALOGUE_ARCHIVE} ${_hp_images}
  COMMAND ${HP_PYTHON3} ${HP_CATALOGUE_TOOL} build
    --messages ${HP_CATALOGUE_SOURCES_DIR} --locales ${_hp_locale_list}
    --images ${HP_CATALOGUE_IMAGES_DIR} --archive ${HP_CATALOGUE_ARCHIVE}
  DEPENDS ${HP_CATALOGUE_TOOL} ${_hp_sources}
  COMMENT "Compiling the message catalogues"
  VERBATIM)
add_custom_target(hp_message_catalogues DEPENDS ${HP_CATALOGUE_ARCHIVE})

# Appends the catalogue archive to `target` after each link. The linker writes a fresh file
# each time and the tool replaces an archive it finds, so the program carries exactly one; a
# changed archive relinks the program.
function(hp_append_message_catalogues target)
  add_dependencies(${target} hp_message_catalogues)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${HP_CATALOGUE_ARCHIVE})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${HP_PYTHON3} ${HP_CATALOGUE_TOOL} append $<TARGET_FILE:${target}> ${HP_CATALOGUE_ARCHIVE}
    COMMENT "Appending the message catalogues to ${target}"
    VERBATIM)
endfunction()
