# cmake -DSCREENSHOTS=PROGRAM -DPAGES_DIR=DIR -DGUIDE_DIR=DIR -DSTAMP=FILE -P BuildGuide.cmake
#
# Copies the guide's pages (*.html, *.css) from PAGES_DIR to GUIDE_DIR and puts beside them, in
# images/, every picture the pages show, freshly rendered by the screenshots program. Fails when
# a page shows a picture that the program did not write. Without SCREENSHOTS only the pages are
# copied.

file(REMOVE_RECURSE "${GUIDE_DIR}")
file(MAKE_DIRECTORY "${GUIDE_DIR}/images")
file(GLOB pages "${PAGES_DIR}/*.html" "${PAGES_DIR}/*.css")
set(pictures "")
foreach(page IN LISTS pages)
    file(COPY "${page}" DESTINATION "${GUIDE_DIR}")
    file(READ "${page}" text)
    string(REGEX MATCHALL "src=\"images/[^\"]+\"" shown "${text}")
    foreach(reference IN LISTS shown)
        string(REGEX REPLACE "^src=\"images/(.*)\"$" "\\1" picture "${reference}")
        list(APPEND pictures "${picture}")
    endforeach()
endforeach()
list(REMOVE_DUPLICATES pictures)

if(SCREENSHOTS)
    set(rendered "${GUIDE_DIR}.rendering")
    file(REMOVE_RECURSE "${rendered}")
    # The screenshots program starts its own loopback FTP servers. Under the sanitizers of
    # make test a leak report at its exit is no reason to refuse the pictures.
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1
                ASAN_OPTIONS=detect_leaks=0 "${SCREENSHOTS}" "${rendered}"
        RESULT_VARIABLE status
        OUTPUT_QUIET
        ERROR_VARIABLE errors
        TIMEOUT 300)
    # Qt's offscreen platform chatters; what is left explains a picture that was not written.
    string(REGEX REPLACE "[^\n]*(propagateSizeHints|XDG_RUNTIME_DIR)[^\n]*\n" "" errors
           "${errors}")
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "The screenshots program failed (${status}):\n${errors}")
    endif()
    set(missing "")
    foreach(picture IN LISTS pictures)
        if(EXISTS "${rendered}/${picture}")
            file(COPY "${rendered}/${picture}" DESTINATION "${GUIDE_DIR}/images")
        else()
            list(APPEND missing "images/${picture}")
        endif()
    endforeach()
    file(REMOVE_RECURSE "${rendered}")
    if(missing)
        file(REMOVE_RECURSE "${GUIDE_DIR}")
        list(JOIN missing "\n  " missing)
        message(FATAL_ERROR "The user guide shows pictures that the screenshots program "
                            "(tests/screenshots) no longer writes:\n  ${missing}\n${errors}")
    endif()
endif()
file(TOUCH "${STAMP}")
