# Keeps the folders of src/ to their boundaries:
#  - the core (core/*) and the command line (cli/) include no window header;
#  - windows/common, which every window uses, includes no other window's header;
#  - a window includes another window's header only to open that window or to implement the
#    interface it is handed (the list below);
#  - no window outside app/ includes app/MainWindow.h.
#
#   cmake -DSOURCE=path/to/src -P check_includes.cmake
#   cmake -DSELFTEST=path/to/scratch -P check_includes.cmake
# The self-test writes a tree with one breach of each rule and expects exactly those reported.

cmake_minimum_required(VERSION 3.25)

set(allowed
    "app -> about/AboutBox.h"                 # opens the About box
    "app -> browse/DirectoryBrowser.h"        # opens the source directory picker
    "app -> options/CompressOptionDialog.h"   # opens the options dialog ("Compress")
    "app -> inspect/Inspection.h"             # installs the information panel and the preview
    "app -> inspect/InspectionHost.h"         # the main window implements it
    "app -> compress/RunLists.h"              # the main window's adapter implements it
    "app -> compare/CompareSource.h"          # the main window's adapter implements it
    "options -> compare/CompareWindow.h"      # opens the compare view ("Compare")
    "options -> compress/FileOutputDialog.h"  # opens the output dialog
    "compress -> browse/DirectoryBrowser.h")  # opens the output directory picker

# Sets `out` to one line per breach found under `root`.
function(check_tree root out)
    set(breaches)
    file(GLOB entries LIST_DIRECTORIES true RELATIVE ${root}/windows ${root}/windows/*)
    set(windows)
    foreach(entry IN LISTS entries)
        if(IS_DIRECTORY ${root}/windows/${entry})
            list(APPEND windows ${entry})
        endif()
    endforeach()

    file(GLOB_RECURSE files RELATIVE ${root} ${root}/*.cpp ${root}/*.h)
    list(SORT files)
    foreach(file IN LISTS files)
        string(REPLACE "/" ";" parts "${file}")
        list(LENGTH parts depth)
        if(depth LESS 2)
            continue()  # main.cpp: the program, which puts everything together
        endif()
        list(GET parts 0 part)
        list(GET parts 1 own)
        file(STRINGS ${root}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line IN LISTS lines)
            string(REGEX MATCH "\"([^\"]+)\"" quoted "${line}")
            set(header "${CMAKE_MATCH_1}")
            string(REPLACE "/" ";" header_parts "${header}")
            list(GET header_parts 0 folder)
            if(NOT folder IN_LIST windows)
                continue()  # the core, the command line, the file's own folder or a library
            endif()
            if(part STREQUAL "core" OR part STREQUAL "cli")
                list(APPEND breaches "${file} includes ${header}: the core and the command line include no window")
            elseif(NOT part STREQUAL "windows" OR folder STREQUAL own)
                continue()
            elseif(header STREQUAL "app/MainWindow.h")
                list(APPEND breaches "${file} includes ${header}: a window gets what it needs of the main window through an interface")
            elseif(own STREQUAL "common")
                list(APPEND breaches "${file} includes ${header}: common, shared by every window, includes none")
            elseif(NOT folder STREQUAL "common" AND NOT "${own} -> ${header}" IN_LIST allowed)
                list(APPEND breaches "${file} includes ${header}: a window includes another's header only to open it")
            endif()
        endforeach()
    endforeach()
    set(${out} "${breaches}" PARENT_SCOPE)
endfunction()

if(SELFTEST)
    file(REMOVE_RECURSE ${SELFTEST})
    set(tree
        "core/imaging/Leak.cpp|app/MainWindow.h"
        "cli/Command.cpp|compress/FileCompressWindow.h"
        "windows/inspect/Peek.cpp|app/MainWindow.h"
        "windows/about/Reach.cpp|options/NumberReading.h"
        "windows/common/Up.cpp|app/FileListBox.h"
        "windows/app/MainWindow.cpp|options/CompressOptionDialog.h"
        "windows/app/Lists.h|common/Message.h"
        "windows/options/CompressOptionDialog.cpp|settings/AppState.h"
        "windows/compress/FileCompressWindow.h|batch/BatchView.h"
        "main.cpp|app/Startup.h")
    foreach(entry IN LISTS tree)
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 file)
        list(GET entry 1 header)
        file(WRITE ${SELFTEST}/${file} "#include <QString>\n\n#include \"${header}\"\n")
    endforeach()
    check_tree(${SELFTEST} found)
    set(expected
        "cli/Command.cpp includes compress/FileCompressWindow.h: the core and the command line include no window"
        "core/imaging/Leak.cpp includes app/MainWindow.h: the core and the command line include no window"
        "windows/about/Reach.cpp includes options/NumberReading.h: a window includes another's header only to open it"
        "windows/common/Up.cpp includes app/FileListBox.h: common, shared by every window, includes none"
        "windows/inspect/Peek.cpp includes app/MainWindow.h: a window gets what it needs of the main window through an interface")
    if(NOT found STREQUAL expected)
        string(REPLACE ";" "\n  " found "${found}")
        message(FATAL_ERROR "the check reported:\n  ${found}")
    endif()
    message(STATUS "every planted breach was reported, and nothing else")
else()
    check_tree(${SOURCE} found)
    if(found)
        string(REPLACE ";" "\n  " found "${found}")
        message(FATAL_ERROR "layout breaches:\n  ${found}")
    endif()
endif()
