#include "setup/licence.h"

namespace tovra::setup {

const std::wstring& LicenceHtml() {
    static const std::wstring html =
        L"<html><head><title>End User License Agreement</title></head>"
        L"<body style=\"font-family: 'MS Sans Serif', Arial, sans-serif; font-size: 10pt\">"
        L"<p><b>TOVRA INTERNET SECURITY 1.0<br>END USER LICENSE AGREEMENT</b></p>"
        L"<p>Please read this agreement carefully before you install Tovra Internet Security 1.0 "
        L"(the &quot;Software&quot;). By choosing &quot;I agree&quot; and installing the Software you accept "
        L"the terms below. If you do not accept them, choose &quot;I disagree&quot; and leave the setup "
        L"with Exit; nothing is installed.</p>"
        L"<p><b>1. Grant of license.</b><br>Quorelsoft grants you a non-exclusive, non-transferable license "
        L"to install and use one copy of the Software on one computer that you own or control.</p>"
        L"<p><b>2. Restrictions.</b><br>You may not rent, lease, sell or sublicense the Software. You may "
        L"not modify, decompile, disassemble or reverse engineer the Software, except where the law "
        L"expressly allows it despite this restriction. You may make one copy of the Software for "
        L"backup purposes.</p>"
        L"<p><b>3. What the Software does.</b><br>The firewall listens on a number of local network "
        L"ports and warns you of incoming connections. The pop-up blocker closes new browser windows "
        L"that a page asks for. The IE Washer resets Internet Explorer settings, deletes temporary "
        L"Internet files, history, cookies and the list of recent documents and, if you agree, "
        L"removes programs that start with Windows. The virus scanner deletes files whose names match "
        L"its virus list. Files and settings removed by the Software cannot be restored by it: "
        L"keep backups of anything you want to keep.</p>"
        L"<p><b>4. Updates.</b><br>New virus lists are published as new versions of the list writer. "
        L"The Software does not connect to the Internet by itself; downloading an update is your "
        L"choice.</p>"
        L"<p><b>5. Ownership.</b><br>The Software is licensed, not sold. Quorelsoft keeps all title, "
        L"copyright and other rights in the Software and its documentation.</p>"
        L"<p><b>6. No warranty.</b><br>The Software is provided &quot;as is&quot;, without warranty of any "
        L"kind, express or implied, including the warranties of merchantability, fitness for a "
        L"particular purpose and non-infringement. No security product can protect a computer "
        L"against every threat.</p>"
        L"<p><b>7. Limitation of liability.</b><br>To the extent the law allows, Quorelsoft is not liable "
        L"for any damages arising from the use of or the inability to use the Software, including "
        L"lost data, lost profits or interruption of business, even if Quorelsoft was told of the "
        L"possibility of such damages.</p>"
        L"<p><b>8. Termination.</b><br>This license ends automatically if you break any of its terms. "
        L"You may end it at any time by uninstalling the Software and destroying all copies.</p>"
        L"<p><b>9. Entire agreement.</b><br>This agreement is the entire agreement between you and "
        L"Quorelsoft about the Software and replaces any earlier understanding.</p>"
        L"<p>Copyright &copy; Quorelsoft. All rights reserved.</p>"
        L"</body></html>";
    return html;
}

}  // namespace tovra::setup
