# CPack: a .deb and a .tar.gz of the install (scripts/package-linux makes both).
set(CPACK_PACKAGE_NAME ostrapel)
set(CPACK_PACKAGE_VENDOR "Ostrapel")
set(CPACK_PACKAGE_CONTACT "Ostrapel developers <developers@ostrapel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Set the DLC version of every save file in a folder")
# One string, each line at most 79 columns with the blank dpkg puts before it.
set(CPACK_PACKAGE_DESCRIPTION
    "Ostrapel drives an external cipher tool (decrypt.exe, not included) to
decipher each save, write the DLC version and encipher it again, and replaces
a save only when every step succeeded. It keeps the originals, so a conversion
can be undone. A Windows decrypt.exe runs through Wine.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY ostrapel)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB;TGZ")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), \
libqt6widgets6 (>= 6.4), libqt6svg6 (>= 6.4), qt6-qpa-plugins, qt6-translations-l10n")
# Wine runs a Windows cipher tool; a CJK font shows the window in Chinese and Japanese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wine, fonts-noto-cjk | fonts-wqy-microhei")

set(CPACK_PACKAGE_FILE_NAME
    "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
include(CPack)
