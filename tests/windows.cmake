# The tests of the Windows build, run by CTest through Wine (the toolchain's emulator): the
# engine's tests, with the Linux machine's tools as their witnesses (support/win32/RunTool.cpp),
# each program linked with its folder's library only, as on Linux. Test programs are listed when
# CTest runs, under Wine, not while building.
include(GoogleTest)

add_library(kesu_test_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/support/EventLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/FileCallFaults.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/Gzip.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/MinisignTool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/SmallFileSystem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/SymbolicLinks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/win32/RunTool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/ZipBuilder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/TempDir.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/TestServer.cpp)
target_include_directories(kesu_test_support PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kesu_test_support PUBLIC kesu_system kesu_zip_writer PkgConfig::ZLIB PkgConfig::HTTPLIB PkgConfig::GTEST Threads::Threads)

# KESU_TEST_TIMEOUT, when set, gives the tests of the next program longer (seconds).
function(kesu_windows_test name library)
  list(TRANSFORM ARGN PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE ${library} kesu_test_support)
  if(NOT KESU_TEST_TIMEOUT)
    set(KESU_TEST_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${KESU_TEST_TIMEOUT})
endfunction()

kesu_windows_test(platform_tests kesu_system
  platform/CryptoTest.cpp
  platform/FileCallsTest.cpp
  platform/HttpHeadersTest.cpp
  platform/InternetTest.cpp
  platform/LogTest.cpp
  platform/SystemProxyTest.cpp
  platform/UrlTest.cpp
  platform/Win32FileSystemTest.cpp
  platform/Win32SystemProxyTest.cpp
  platform/WindowsNameTest.cpp)
kesu_windows_test(delta_tests "kesu_delta_apply;kesu_delta_make"
  delta/PatchTest.cpp)
kesu_windows_test(digest_tests kesu_digest
  digest/DigestsTest.cpp)
kesu_windows_test(trust_tests kesu_trust
  trust/MinisignTest.cpp)
kesu_windows_test(release_tests kesu_release
  release/ExpectedFileTest.cpp)
kesu_windows_test(manifest_tests kesu_manifest
  manifest/ManifestEntryRulesTest.cpp
  manifest/ManifestFormatTest.cpp
  manifest/ManifestSpellingsTest.cpp)
kesu_windows_test(download_tests kesu_download
  download/DownloadMgrTest.cpp
  download/FailedWriteTest.cpp
  download/ParallelDownloadTest.cpp
  download/VerifiedDownloadTest.cpp)
kesu_windows_test(source_tests kesu_source
  source/ReadUrlTextTest.cpp
  source/SignedDocumentTest.cpp)
# Ten thousand files unpacked one by one take Wine one to two and a half minutes.
set(KESU_TEST_TIMEOUT 400)
kesu_windows_test(archive_tests kesu_archive
  archive/DamagedArchiveTest.cpp
  archive/RealArchiversTest.cpp
  archive/UnpackOntoDiskTest.cpp
  archive/UnzipPackageTest.cpp)
unset(KESU_TEST_TIMEOUT)
kesu_windows_test(install_tests kesu_install
  install/FailedFileCallsTest.cpp
  install/InstallerTest.cpp
  install/InstallJournalTest.cpp)
kesu_windows_test(check_tests kesu_check
  check/CheckCacheTest.cpp)
kesu_windows_test(run_tests kesu_run
  run/FailedDownloadWriteTest.cpp
  run/RunEndsTest.cpp
  run/ServedFileTest.cpp)
# The publisher's patches, with the publisher built for Windows: Wine's drive Z: is the Unix root.
kesu_windows_test(publish_tests kesu_publish
  publish/PublishPatchesTest.cpp
  publish/PublishPatchRerunTest.cpp
  publish/PublishTest.cpp)
target_link_libraries(publish_tests PRIVATE kesu_archive kesu_delta_apply kesu_delta_make)
target_compile_definitions(publish_tests PRIVATE KESU_PUBLISH_EXE="Z:$<TARGET_FILE:kesu-publish>")
add_dependencies(publish_tests kesu-publish)
kesu_windows_test(window_tests kesu_window
  window/Win32DrawingTest.cpp)

# KesuUpdate.exe run as a program, with a stand-in lobby (Maravel.exe) beside it.
add_executable(stand_in_lobby ${CMAKE_CURRENT_LIST_DIR}/support/win32/StandInLobby.cpp)
target_link_libraries(stand_in_lobby PRIVATE kesu_system)
target_link_options(stand_in_lobby PRIVATE -municode)
# One at a time: every run's window is on the one desktop, where a second updater's run would
# find the first one's window and leave the update to it.
add_executable(program_tests ${CMAKE_CURRENT_LIST_DIR}/app/win32/WindowsProgramTest.cpp)
target_link_libraries(program_tests PRIVATE kesu_digest kesu_test_support)
gtest_discover_tests(program_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
# The tests' build of the program, which takes their hooks (the kill after a chosen move).
target_compile_definitions(program_tests PRIVATE KESU_UPDATER_EXE="$<TARGET_FILE:KesuUpdateForTests>"
  KESU_LOBBY_EXE="$<TARGET_FILE:stand_in_lobby>")
add_dependencies(program_tests KesuUpdateForTests stand_in_lobby)
