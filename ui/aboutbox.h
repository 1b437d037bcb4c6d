#pragma once

#include <QDialog>

class CHyperLink;

// The About box: the program's icon, name and version, and two links, the maker's web site
// (text 40002) and a mailto: address of its support (text 40003).
// Threads: the user-interface thread only.
class CAboutBox : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutBox(QWidget* parent = nullptr);

    CHyperLink* WebLink() const { return web_; }
    CHyperLink* SupportLink() const { return support_; }

private:
    CHyperLink* web_;
    CHyperLink* support_;
};
