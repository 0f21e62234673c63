// SPDX-License-Identifier: GPL-3.0-or-later
// The folder picker of the new-set dialog: a directory chooser that opens on a given folder and
// answers with the chosen folder's path. Its texts keep the bounds the program has always given
// them (title 255 bytes, paths 259 bytes as CP932 would store them): longer texts are cut or
// refused, never copied past their room. Paths are the system's, never converted.
#pragma once

#include <string>
#include <string_view>

class QWidget;

class CFolderDialog {
public:
    static constexpr std::size_t kTitleMax = 255; // bytes, without the terminating zero
    static constexpr std::size_t kPathMax = 259;

    // A title that does not fit is cut at a character boundary.
    explicit CFolderDialog(std::string_view cp932Title = {}, QWidget* pOwner = nullptr);

    // Opens the chooser on `osInitialPath` (preselected when it fits and is given).
    // IDOK (1) with the chosen folder in GetPathName, IDCANCEL (2), or -1 when the chosen folder
    // has no path that fits.
    int DoModal(std::string_view osInitialPath = {});
    // The chosen folder's path (system encoding, without a trailing separator unless it is the
    // root).
    const std::string& GetPathName() const { return m_szPath; }
    const std::string& GetTitle() const { return m_szTitle; }
    const std::string& GetInitialPath() const { return m_szInitialPath; }
    // Why the last choice came back as -1 (CP932, for the user); empty otherwise.
    const std::string& GetRefusal() const { return m_strRefusal; }

    void Reset();

private:
    int Browse();

    QWidget* m_pOwner;
    std::string m_szInitialPath; // at most kPathMax bytes as CP932; empty = none
    std::string m_szPath;        // at most kPathMax bytes as CP932
    std::string m_szTitle;       // CP932, at most kTitleMax bytes
    std::string m_strRefusal;
};
