# Installs the build into a scratch prefix and checks that the program, its
# manual page, desktop entry, metainfo and themed icons are all in place.
file(REMOVE_RECURSE "${STAGING}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${STAGING}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file
    bin/quadrilo
    share/man/man1/quadrilo.1.gz
    share/applications/it.quadrilo.quadrilo.desktop
    share/metainfo/it.quadrilo.quadrilo.metainfo.xml
    share/icons/hicolor/16x16/apps/quadrilo.png
    share/icons/hicolor/32x32/apps/quadrilo.png)
  if(NOT EXISTS "${STAGING}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
