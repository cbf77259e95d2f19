<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CMUpdater</name>
    <message>
        <source>The update in this folder is too old: it has expired.</source>
        <translation>此文件夹中的更新太旧：已过期。</translation>
    </message>
    <message>
        <source>Check version failed,updater will exit</source>
        <translation>检查版本失败，更新程序将退出</translation>
    </message>
    <message>
        <source>No new version, updater will exit</source>
        <translation>没有新版本，更新程序将退出</translation>
    </message>
    <message>
        <source>Downloading software packages...</source>
        <translation>正在下载软件包...</translation>
    </message>
    <message>
        <source>Downloading firmware packages...</source>
        <translation>正在下载固件包...</translation>
    </message>
    <message>
        <source>Download succeed</source>
        <translation>下载成功</translation>
    </message>
    <message>
        <source>Downloaded from the mirror %1</source>
        <translation>已从镜像服务器 %1 下载</translation>
    </message>
    <message>
        <source>Updater</source>
        <translation>更新程序</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>下一步</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>上一步</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Description:</source>
        <translation>描述：</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>版本：</translation>
    </message>
    <message>
        <source>new version</source>
        <translation>新版本</translation>
    </message>
    <message>
        <source>Check update...</source>
        <translation>正在检查更新...</translation>
    </message>
    <message>
        <source>1.Download packages</source>
        <translation>1. 下载软件包</translation>
    </message>
    <message>
        <source>2.Update firmware</source>
        <translation>2. 更新固件</translation>
    </message>
    <message>
        <source>3.Update software</source>
        <translation>3. 更新软件</translation>
    </message>
    <message>
        <source>4.Update end</source>
        <translation>4. 更新结束</translation>
    </message>
    <message>
        <source>Software Update Package</source>
        <translation>软件更新包</translation>
    </message>
    <message>
        <source>Firmware Update Package</source>
        <translation>固件更新包</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>The download is limited to %1 kB/s (MAX_RATE).</source>
        <translation>下载速度限制为 %1 kB/s（MAX_RATE）。</translation>
    </message>
    <message>
        <source>Please select first!</source>
        <translation>请先选择！</translation>
    </message>
    <message>
        <source>Backup your private data?</source>
        <translation>是否备份您的私人数据？</translation>
    </message>
    <message>
        <source>Update  firmware failed.</source>
        <translation>固件更新失败。</translation>
    </message>
    <message>
        <source>The modem firmware was not updated. Keep the modem plugged in and run the update again.</source>
        <translation>调制解调器固件未更新。请保持调制解调器连接，然后重新运行更新。</translation>
    </message>
    <message>
        <source>The software update failed and the previous version was restored.</source>
        <translation>软件更新失败，已恢复到之前的版本。</translation>
    </message>
    <message>
        <source>The software update failed and some files of the previous version could not be put back yet. They are kept and will be put back when the computer starts again. Restart the computer; if this message comes again, make sure that the installation directory can be written.</source>
        <translation>软件更新失败，之前版本的部分文件暂时无法恢复。这些文件已被保留，将在计算机下次启动时恢复。请重新启动计算机；如果此消息再次出现，请确认安装目录可以写入。</translation>
    </message>
    <message>
        <source>The software was updated, but your contacts and messages could not be put back yet. They are kept and will be put back the next time the updater starts.</source>
        <translation>软件已更新，但您的联系人和短信暂时无法恢复。它们已被保留，将在更新程序下次启动时恢复。</translation>
    </message>
    <message>
        <source>Starting the new version...</source>
        <translation>正在启动新版本...</translation>
    </message>
    <message>
        <source>%1 is being released in stages; the release is paused</source>
        <translation>%1 正在分阶段发布；发布已暂停</translation>
    </message>
    <message>
        <source>%1 is being released in stages; this computer&apos;s turn is not planned yet</source>
        <translation>%1 正在分阶段发布；尚未安排本计算机</translation>
    </message>
    <message>
        <source>%1 is being released in stages; this computer&apos;s turn comes at %2 %, expected from %3</source>
        <translation>%1 正在分阶段发布；本计算机将在 %2 % 阶段获得更新，预计从 %3 开始</translation>
    </message>
    <message>
        <source>The software update failed: the downloaded package is damaged and was not installed. The connection manager was left running.</source>
        <translation>软件更新失败：下载的软件包已损坏，未被安装。连接管理器仍在运行。</translation>
    </message>
    <message>
        <source>The new version of the connection manager did not start. The previous version was restored.</source>
        <translation>新版本的连接管理器未能启动。已恢复到之前的版本。</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>正在下载...</translation>
    </message>
    <message>
        <source>Enter Download Mode</source>
        <translation>进入下载模式</translation>
    </message>
    <message>
        <source>Close Autorun</source>
        <translation>关闭自动运行</translation>
    </message>
    <message>
        <source>Reset DMP</source>
        <translation>重置 DMP</translation>
    </message>
    <message>
        <source>Backup NV</source>
        <translation>备份 NV</translation>
    </message>
    <message>
        <source>Switch to Download Mode</source>
        <translation>切换到下载模式</translation>
    </message>
    <message>
        <source>Download Armprg</source>
        <translation>下载 Armprg</translation>
    </message>
    <message>
        <source>Skip Armprg</source>
        <translation>跳过 Armprg</translation>
    </message>
    <message>
        <source>Dwonload Partition table</source>
        <translation>下载分区表</translation>
    </message>
    <message>
        <source>Download Qcsbl File</source>
        <translation>下载 Qcsbl 文件</translation>
    </message>
    <message>
        <source>Download Oemsbl File</source>
        <translation>下载 Oemsbl 文件</translation>
    </message>
    <message>
        <source>Download Version File</source>
        <translation>下载版本文件</translation>
    </message>
    <message>
        <source>Download Efs File</source>
        <translation>下载 Efs 文件</translation>
    </message>
    <message>
        <source>Reset SDP</source>
        <translation>重置 SDP</translation>
    </message>
    <message>
        <source>Restore NV</source>
        <translation>恢复 NV</translation>
    </message>
    <message>
        <source>Close Download Mode</source>
        <translation>关闭下载模式</translation>
    </message>
    <message>
        <source>Open Autorun</source>
        <translation>打开自动运行</translation>
    </message>
    <message>
        <source>Download Failed</source>
        <translation>下载失败</translation>
    </message>
    <message>
        <source>Download Successfully</source>
        <translation>下载成功完成</translation>
    </message>
    <message>
        <source>No Device</source>
        <translation>未找到设备</translation>
    </message>
    <message>
        <source>Open File Failed</source>
        <translation>打开文件失败</translation>
    </message>
    <message>
        <source>Create NV File Failed</source>
        <translation>创建 NV 文件失败</translation>
    </message>
    <message>
        <source>Backup NV Failed</source>
        <translation>备份 NV 失败</translation>
    </message>
    <message>
        <source>Switch Down Failed</source>
        <translation>切换下载模式失败</translation>
    </message>
    <message>
        <source>Device Failed</source>
        <translation>设备故障</translation>
    </message>
    <message>
        <source>Down PRG Failed</source>
        <translation>下载 PRG 失败</translation>
    </message>
    <message>
        <source>Switch CHPRG Failed</source>
        <translation>切换 CHPRG 失败</translation>
    </message>
    <message>
        <source>Down Ver Failed</source>
        <translation>下载版本失败</translation>
    </message>
    <message>
        <source>Restart Failed</source>
        <translation>重启失败</translation>
    </message>
    <message>
        <source>Restore Failed</source>
        <translation>恢复失败</translation>
    </message>
    <message>
        <source>Downloading PRG</source>
        <translation>正在下载 PRG</translation>
    </message>
    <message>
        <source>Invalid software package.</source>
        <translation>无效的软件包。</translation>
    </message>
    <message>
        <source>update end</source>
        <translation>更新结束</translation>
    </message>
    <message>
        <source>The update does not fit this installation; downloading the full package (%1 KB)...</source>
        <translation>此更新与本安装不符；正在下载完整软件包（%1 KB）...</translation>
    </message>
    <message>
        <source>Unzip package...</source>
        <translation>正在解压软件包...</translation>
    </message>
    <message>
        <source>update fail.restore...</source>
        <translation>更新失败，正在恢复...</translation>
    </message>
    <message>
        <source>Restore incomplete, backup kept.</source>
        <translation>恢复未完成，已保留备份。</translation>
    </message>
    <message>
        <source>Backup user private data</source>
        <translation>正在备份用户私人数据</translation>
    </message>
    <message>
        <source>Backup current version</source>
        <translation>正在备份当前版本</translation>
    </message>
    <message>
        <source>Start update software</source>
        <translation>开始更新软件</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>版本</translation>
    </message>
    <message>
        <source>Size(KB)</source>
        <translation>大小(KB)</translation>
    </message>
    <message>
        <source>Priority</source>
        <translation>优先级</translation>
    </message>
    <message>
        <source>Stopping %1: the connection drops for a moment...</source>
        <translation>正在停止 %1：连接将短暂中断...</translation>
    </message>
    <message>
        <source>%1 %2 is installed and running.</source>
        <translation>%1 %2 已安装并正在运行。</translation>
    </message>
    <message>
        <source>Resuming at %1 %...</source>
        <translation>从 %1 % 处继续...</translation>
    </message>
    <message>
        <source>%1 of %2 MB</source>
        <translation>%1 / %2 MB</translation>
    </message>
    <message>
        <source>%1 of %2 KB</source>
        <translation>%1 / %2 KB</translation>
    </message>
    <message>
        <source>%1 %</source>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>%1 % - %2</source>
        <translation>%1 % - %2</translation>
    </message>
    <message>
        <source>%1 % - %2 - %3</source>
        <translation>%1 % - %2 - %3</translation>
    </message>
    <message>
        <source>about %1 s left</source>
        <translation>约剩 %1 秒</translation>
    </message>
    <message>
        <source>about %1 min left</source>
        <translation>约剩 %1 分钟</translation>
    </message>
    <message>
        <source>The firmware update failed: the downloaded package is damaged and was not flashed. The connection manager was left running.</source>
        <translation>固件更新失败：下载的软件包已损坏，未被刷写。连接管理器仍在运行。</translation>
    </message>
    <message>
        <source>The software update failed: there is not enough free disk space to unpack it. Free some space and run the update again. The connection manager was left running.</source>
        <translation>软件更新失败：磁盘可用空间不足，无法解压。请释放一些空间后重新运行更新。连接管理器仍在运行。</translation>
    </message>
    <message>
        <source>The software update failed: the package could not be unpacked. Run the update again. The connection manager was left running.</source>
        <translation>软件更新失败：软件包无法解压。请重新运行更新。连接管理器仍在运行。</translation>
    </message>
    <message>
        <source>Checking for a new version</source>
        <translation>正在检查新版本</translation>
    </message>
    <message>
        <source>Step 1 of 3: new version</source>
        <translation>第 1 步，共 3 步：新版本</translation>
    </message>
    <message>
        <source>Step 2 of 3: choose packages</source>
        <translation>第 2 步，共 3 步：选择软件包</translation>
    </message>
    <message>
        <source>Step 3 of 3: update</source>
        <translation>第 3 步，共 3 步：更新</translation>
    </message>
    <message>
        <source>Version check</source>
        <translation>版本检查</translation>
    </message>
    <message>
        <source>The new version</source>
        <translation>新版本</translation>
    </message>
    <message>
        <source>About the selected package</source>
        <translation>所选软件包的说明</translation>
    </message>
    <message>
        <source>Close the updater and change nothing</source>
        <translation>关闭更新程序，不做任何更改</translation>
    </message>
    <message>
        <source>Choose the packages of the new version</source>
        <translation>选择新版本的软件包</translation>
    </message>
    <message>
        <source>Return to the notice of the new version</source>
        <translation>返回新版本通知</translation>
    </message>
    <message>
        <source>Download and install the ticked packages</source>
        <translation>下载并安装已勾选的软件包</translation>
    </message>
    <message>
        <source>Stop the download</source>
        <translation>停止下载</translation>
    </message>
    <message>
        <source>Packages</source>
        <translation>软件包</translation>
    </message>
    <message>
        <source>Arrow keys choose a package, Space ticks it for the update</source>
        <translation>用方向键选择软件包，按空格键勾选以进行更新</translation>
    </message>
    <message>
        <source>Install</source>
        <translation>安装</translation>
    </message>
    <message>
        <source>Update status</source>
        <translation>更新状态</translation>
    </message>
    <message>
        <source>Progress of the running step</source>
        <translation>当前步骤的进度</translation>
    </message>
    <message>
        <source>Install the modem firmware %1, %2 KB</source>
        <translation>安装调制解调器固件 %1，%2 KB</translation>
    </message>
    <message>
        <source>Install the connection manager %1 %2, %3 KB</source>
        <translation>安装连接管理器 %1 %2，%3 KB</translation>
    </message>
</context>
</TS>
