# Precompiled headers: most of each translation unit's parse time goes to the same Qt, GoogleTest and
# standard headers, so each target parses them once. ccache caches such builds only when told to trust the
# precompiled header; see the launcher below.
option(ROADLOOM_PCH "Precompile the common Qt, GoogleTest and standard headers" ON)

set(ROADLOOM_PCH_CORE
    <algorithm> <functional> <memory> <optional> <vector>
    <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QMap> <QObject> <QSet> <QString>
    <QStringList>)
set(ROADLOOM_PCH_MODEL ${ROADLOOM_PCH_CORE} <QFuture> <QImage> <QPointer> <QThreadPool> <QTimer>
    <QtConcurrent>)
set(ROADLOOM_PCH_WIDGETS ${ROADLOOM_PCH_MODEL}
    <QApplication> <QEvent> <QHBoxLayout> <QLabel> <QLineEdit> <QPainter> <QPushButton> <QVBoxLayout>
    <QWidget>)
set(ROADLOOM_PCH_TEST <gmock/gmock.h> <gtest/gtest.h> <QSignalSpy> <QTemporaryDir> <QTest>)

# roadloom_precompile(target HEADERS...): precompiles HEADERS for the target's C++ sources.
function(roadloom_precompile target)
    if(NOT ROADLOOM_PCH)
        return()
    endif()
    list(TRANSFORM ARGN PREPEND "$<$<COMPILE_LANGUAGE:CXX>:" OUTPUT_VARIABLE headers)
    list(TRANSFORM headers APPEND ">")
    target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# roadloom_reuse_precompiled(target owner): the target uses the owner's precompiled header. Only for targets
# compiled with the same flags that define every macro the owner defines (more are fine): otherwise the
# compiler refuses the header (-Winvalid-pch, an error here).
function(roadloom_reuse_precompiled target owner)
    if(ROADLOOM_PCH)
        target_precompile_headers(${target} REUSE_FROM ${owner})
    endif()
endfunction()

# roadloom_precompiled_owner(name HEADERS ... LINK ...): a target that only precompiles HEADERS as a target
# linking LINK would, for the test programs to share.
function(roadloom_precompiled_owner name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "HEADERS;LINK")
    if(NOT ROADLOOM_PCH)
        return()
    endif()
    set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "// Only here to own a precompiled header.\n")
    add_library(${name} OBJECT ${source})
    target_link_libraries(${name} PRIVATE ${arg_LINK})
    roadloom_precompile(${name} ${arg_HEADERS})
endfunction()

# ccache declines to cache a translation unit that includes a precompiled header unless told that the
# header's macros and time stamps may be trusted.
if(ROADLOOM_PCH)
    foreach(lang C CXX)
        if(CMAKE_${lang}_COMPILER_LAUNCHER MATCHES "ccache$")
            set(CMAKE_${lang}_COMPILER_LAUNCHER
                ${CMAKE_COMMAND} -E env
                "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
                ${CMAKE_${lang}_COMPILER_LAUNCHER})
        endif()
    endforeach()
endif()
