# make package: a Debian package of what cmake --install puts in place, for /usr.
#
# The dependencies come from the programs themselves: dpkg-shlibdeps (dpkg-dev) names the
# packages of every shared library they link, the Qt libraries and, where the FTP client links
# it, OpenSSL. The desktop's caches (MIME types, desktop entries, icons) are updated by the
# triggers of shared-mime-info, desktop-file-utils and the icon theme on the target machine.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR Quillmere)
set(CPACK_PACKAGE_CONTACT "Kelvane developers <kelvane@quillmere.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keeps a web site on an FTP server in step with a local folder")
set(CPACK_PACKAGE_DESCRIPTION
    "Kelvane lists a local folder tree and a folder on an FTP server, plans what\n\
to add, overwrite and delete on the server, lets you review the plan, uploads\n\
and deletes over FTP and reports what it did. The settings of one\n\
synchronisation are kept in a profile (.kvp); a batch (.kvb) runs several\n\
profiles one after another.\n\
\n\
kelvane is the desktop program; kelvane-cli runs the same synchronisations\n\
without a window, for cron jobs and deploy scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Every icon is SVG, drawn by the SVG icon engine and image plugins of libqt6svg6, which nothing
# links; without them the windows show no icons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# Help opens the guide, and the browse dialogs open files, through xdg-open where no desktop
# portal does it; xdg-utils also answers xdg-mime about the two file types.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
