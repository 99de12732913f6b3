# The program for Windows as one zip, run as a build step:
#   cmake -DEXE=quadrilo.exe -DCXX=<mingw g++> -DSTRIP=<mingw strip> -DQT_BIN=<Qt's bin> -DQT_PLUGINS=<Qt's plugins>
#         -DTRANSLATION=<qtbase_it.qm> -DZIP=<out.zip> -P windows_zip.cmake
# It holds quadrilo.exe, the DLLs it loads (Qt's and MinGW's runtime), the
# plugins that draw its window and read its icon, Qt's Italian texts, and a
# qt.conf that has Qt find all of them beside the program.
get_filename_component(stage "${ZIP}" NAME_WLE)
get_filename_component(dir "${ZIP}" DIRECTORY)
set(root "${dir}/${stage}")
file(REMOVE_RECURSE "${root}")
file(MAKE_DIRECTORY "${root}/Quadrilo")
set(out "${root}/Quadrilo")

file(COPY "${EXE}" DESTINATION "${out}")
foreach(dll Qt6Core Qt6Gui Qt6Widgets)
  file(COPY "${QT_BIN}/${dll}.dll" DESTINATION "${out}")
endforeach()
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND "${CXX}" -print-file-name=${dll} OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${dll} non trovata accanto al compilatore ${CXX}")
  endif()
  file(COPY "${path}" DESTINATION "${out}")
endforeach()
foreach(plugin platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qico.dll)
  get_filename_component(kind "${plugin}" DIRECTORY)
  file(COPY "${QT_PLUGINS}/${plugin}" DESTINATION "${out}/${kind}")
endforeach()
file(COPY "${TRANSLATION}" DESTINATION "${out}/translations")
# Handed out without their debugging information.
file(GLOB_RECURSE binaries "${out}/*.exe" "${out}/*.dll")
execute_process(COMMAND "${STRIP}" --strip-unneeded ${binaries} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${STRIP} non ha potuto togliere i simboli")
endif()
file(WRITE "${out}/qt.conf" "[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n")

file(REMOVE "${ZIP}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip Quadrilo
                WORKING_DIRECTORY "${root}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Non è stato possibile scrivere ${ZIP}")
endif()
