<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ja_JP">
<context>
    <name>TAutoCaptureDialog</name>
    <message>
        <source>シーンの変わり目をキャプチャ</source>
        <translation>Capture Scene Changes</translation>
    </message>
    <message>
        <source>一定間隔でキャプチャ</source>
        <translation>Capture at Intervals</translation>
    </message>
    <message>
        <source>動画全体</source>
        <translation>The whole movie</translation>
    </message>
    <message>
        <source>現在の位置から最後まで</source>
        <translation>From the current position to the end</translation>
    </message>
    <message>
        <source>しきい値（小さいほど多く検出）:</source>
        <translation>Threshold (lower finds more):</translation>
    </message>
    <message>
        <source>間隔:</source>
        <translation>Interval:</translation>
    </message>
    <message>
        <source> 秒</source>
        <translation> s</translation>
    </message>
    <message>
        <source>二つの絵の間の色と構図の変化がこの値（0〜255）以上で、直前の絵どうしの変化より際立つところをシーンの変わり目とします。</source>
        <translation>A change of colour and layout between two pictures of at least this much (0 to 255), standing out from the changes between the pictures just before, counts as a cut.</translation>
    </message>
    <message>
        <source>各シーンで最もシャープな画像</source>
        <translation>The sharpest picture of each scene</translation>
    </message>
    <message>
        <source>変わり目の少し後の画像の代わりに、シーンの最初の2秒間で最もシャープな画像をキャプチャします。時間がかかります。</source>
        <translation>Captures the sharpest picture of each scene&apos;s first two seconds instead of the picture a little after its cut. Takes longer.</translation>
    </message>
</context>
<context>
    <name>TExecuteBlocker</name>
    <message>
        <source>すでに実行中です。</source>
        <translation>Framora is already running.</translation>
    </message>
</context>
<context>
    <name>TFramoraDesktop</name>
    <message>
        <source>選択したシーン（選択がなければ表示中の画像）をクリップボードにコピーします。</source>
        <translation>Copies the selected scene (or the picture on screen when none is selected) to the clipboard.</translation>
    </message>
    <message>
        <source>前回保存されなかったシーンがあります。復元しますか？</source>
        <translation>Some scenes were not saved last time. Restore them?</translation>
    </message>
    <message>
        <source>1件のシーン（%1にキャプチャ）</source>
        <translation>1 scene, captured %1</translation>
    </message>
    <message>
        <source>%1件のシーン（%2にキャプチャ）</source>
        <translation>%1 scenes, captured %2</translation>
    </message>
    <message>
        <source>%1件のシーン（%2〜%3にキャプチャ）</source>
        <translation>%1 scenes, captured between %2 and %3</translation>
    </message>
    <message>
        <source>復元</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>シーンを復元しています... %1 / %2</source>
        <translation>Restoring scenes... %1 / %2</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>TImagePack</name>
    <message>
        <source>イメージ処理<byte value="xd"/>
エラー</source>
        <translation>Image<byte value="xd"/>
error</translation>
    </message>
</context>
<context>
    <name>TfrmAbout</name>
    <message>
        <source>This product includes software developed by the FFMpeg Project.</source>
        <translation>This product includes software developed by the FFMpeg Project.</translation>
    </message>
    <message>
        <source>FFMpeg is licensed under the GNU Lesser general Public License.</source>
        <translation>FFMpeg is licensed under the GNU Lesser general Public License.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>GNU General Public License 第3版以降 (GPL-3.0-or-later) のもとで自由に使用・再配布・改変できます。</source>
        <translation>Free to use, share and change under the GNU General Public License, version 3 or later (GPL-3.0-or-later).</translation>
    </message>
</context>
<context>
    <name>TfrmFramora</name>
    <message>
        <source>動画ファイル選択</source>
        <translation>Movie file</translation>
    </message>
    <message>
        <source>ファイル名:</source>
        <translation>File:</translation>
    </message>
    <message>
        <source>動画を選択</source>
        <translation>Open movie</translation>
    </message>
    <message>
        <source>動画ファイルを変更します</source>
        <translation>Opens another movie file</translation>
    </message>
    <message>
        <source>DVDを検索</source>
        <translation>Find DVD</translation>
    </message>
    <message>
        <source>動画</source>
        <translation>Movie</translation>
    </message>
    <message>
        <source>実際のサイズ:</source>
        <translation>Actual size:</translation>
    </message>
    <message>
        <source>前のステップへ</source>
        <translation>Step back</translation>
    </message>
    <message>
        <source>動画の再生位置を変更します</source>
        <translation>Changes the playback position</translation>
    </message>
    <message>
        <source>次のステップへ</source>
        <translation>Step forward</translation>
    </message>
    <message>
        <source>10分</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>1分</source>
        <translation>1 min</translation>
    </message>
    <message>
        <source>20秒</source>
        <translation>20 s</translation>
    </message>
    <message>
        <source>10秒</source>
        <translation>10 s</translation>
    </message>
    <message>
        <source>5秒</source>
        <translation>5 s</translation>
    </message>
    <message>
        <source>2秒</source>
        <translation>2 s</translation>
    </message>
    <message>
        <source>1秒</source>
        <translation>1 s</translation>
    </message>
    <message>
        <source>0.5秒</source>
        <translation>0.5 s</translation>
    </message>
    <message>
        <source>シーンリスト</source>
        <translation>Scene list</translation>
    </message>
    <message>
        <source>画像数:</source>
        <translation>Scenes:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>ヘルプ</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>ヘルプを呼び出します</source>
        <translation>Opens the help</translation>
    </message>
    <message>
        <source>自動キャプチャ(&amp;A)</source>
        <translation>&amp;Automatic Capture</translation>
    </message>
    <message>
        <source>Framoraについて</source>
        <translation>About Framora</translation>
    </message>
    <message>
        <source>設定(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>インターレース解除</source>
        <translation>Deinterlacing</translation>
    </message>
    <message>
        <source>About(&amp;A)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>ファイル名に再生位置を付ける</source>
        <translation>Position in File Names</translation>
    </message>
    <message>
        <source>保存するファイルの名前に、シーンの再生位置を付けます（例: 名前001_00-01-23.456.png）。</source>
        <translation>Adds each scene&apos;s position to the names of saved files (for example name001_00-01-23.456.png).</translation>
    </message>
    <message>
        <source>シーンの変わり目をキャプチャ...</source>
        <translation>Capture Scene Changes...</translation>
    </message>
    <message>
        <source>シーンが変わるたびに、その画像をシーンリストに追加します。</source>
        <translation>Adds a picture to the scene list each time the scene changes.</translation>
    </message>
    <message>
        <source>一定間隔でキャプチャ...</source>
        <translation>Capture at Intervals...</translation>
    </message>
    <message>
        <source>指定した秒数ごとの画像をシーンリストに追加します。</source>
        <translation>Adds a picture every given number of seconds to the scene list.</translation>
    </message>
    <message>
        <source>表示サイズで保存</source>
        <translation>Save at Display Size</translation>
    </message>
    <message>
        <source>キャプチャした画像を表示の縦横比に合わせて保存します（縮めず、片方の辺を伸ばします）。</source>
        <translation>Saves captured pictures at the display aspect ratio (one side is stretched, never shrunk).</translation>
    </message>
    <message>
        <source>正確な位置に移動</source>
        <translation>Exact Positioning</translation>
    </message>
    <message>
        <source>一時停止中は、指定した時刻に表示される画像を正確に表示します（キーフレームに移動しません）。</source>
        <translation>While paused, shows exactly the picture shown at the chosen time (not the nearest key frame).</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>インターレースと記録された画像だけを、インターレース解除します。</source>
        <translation>Deinterlaces only the pictures recorded as interlaced.</translation>
    </message>
    <message>
        <source>常に</source>
        <translation>Always</translation>
    </message>
    <message>
        <source>すべての画像をインターレース解除します。</source>
        <translation>Deinterlaces every picture.</translation>
    </message>
    <message>
        <source>しない</source>
        <translation>Never</translation>
    </message>
    <message>
        <source>インターレース解除をしません。</source>
        <translation>Does not deinterlace.</translation>
    </message>
    <message>
        <source>HDRをSDRに変換</source>
        <translation>Convert HDR to SDR</translation>
    </message>
    <message>
        <source>HDR（PQ・HLG）の動画をSDR（BT.709）の明るさと色に変換します。広色域（BT.2020）の動画の色もBT.709に変換します。</source>
        <translation>Converts HDR (PQ, HLG) movies to SDR BT.709 brightness and colours, and wide-gamut (BT.2020) colours to BT.709.</translation>
    </message>
    <message>
        <source>動画シーンの取得ができませんでした。</source>
        <translation>Could not get the movie&apos;s pictures.</translation>
    </message>
    <message>
        <source>動画ファイルの選択</source>
        <translation>Open Movie File</translation>
    </message>
    <message>
        <source>動画ファイル|*.avi;*.wmv;*.asf;*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2;*.rm;*.rmvb;*.flv;*.vob;*.dv;*.mkv;*.webm;*.ts;*.m2ts;*.mts;*.ogv;*.ogg|AVI形式(.avi)|*.avi|WMV形式(.wmv;.asf)|*.wmv;*.asf|MPEG形式(.m1v;.m2v;.mp4;.m4v;.mp4v;.mov;.mpg;.mpeg;.3gp;.3g2)|*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2|RM形式(.rm;.rmvb)|*.rm;*.rmvb|FLV形式(.flv)|*.flv|VOB形式(.vob)|*.vob|Digital Video形式(.dv)|*.dv|すべての形式(*.*)|*.*</source>
        <translation>Movie files|*.avi;*.wmv;*.asf;*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2;*.rm;*.rmvb;*.flv;*.vob;*.dv;*.mkv;*.webm;*.ts;*.m2ts;*.mts;*.ogv;*.ogg|AVI (.avi)|*.avi|WMV (.wmv;.asf)|*.wmv;*.asf|MPEG (.m1v;.m2v;.mp4;.m4v;.mp4v;.mov;.mpg;.mpeg;.3gp;.3g2)|*.m1v;*.m2v;*.mp4;*.m4v;*.mp4v;*.mov;*.mpg;*.mpeg;*.3gp;*.3g2|RealMedia (.rm;.rmvb)|*.rm;*.rmvb|Flash Video (.flv)|*.flv|DVD Video Object (.vob)|*.vob|Digital Video (.dv)|*.dv|All files (*.*)|*.*</translation>
    </message>
    <message>
        <source>キャプチャイメージの保存</source>
        <translation>Save Captured Pictures</translation>
    </message>
    <message>
        <source>キャプチャの追加⇒</source>
        <translation>Capture ⇒</translation>
    </message>
    <message>
        <source>シーンリストの最後にキャプチャ画像を追加します。</source>
        <translation>Adds the picture on screen to the end of the scene list.</translation>
    </message>
    <message>
        <source>1つ削除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>選択しているキャプチャ画像を1つ削除します</source>
        <translation>Deletes the selected captured picture</translation>
    </message>
    <message>
        <source>全部削除</source>
        <translation>Delete all</translation>
    </message>
    <message>
        <source>キャプチャ画像をすべて削除します</source>
        <translation>Deletes every captured picture</translation>
    </message>
    <message>
        <source>再生</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>動画の再生を開始します</source>
        <translation>Starts playing the movie</translation>
    </message>
    <message>
        <source>一時停止</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>動画を一時停止します</source>
        <translation>Pauses the movie</translation>
    </message>
    <message>
        <source>先頭へ</source>
        <translation>Rewind</translation>
    </message>
    <message>
        <source>動画の先頭へ戻ります</source>
        <translation>Goes back to the start of the movie</translation>
    </message>
    <message>
        <source>次のコマへ</source>
        <translation>Next step</translation>
    </message>
    <message>
        <source>前のコマへ</source>
        <translation>Previous step</translation>
    </message>
    <message>
        <source>1フレーム進みます</source>
        <translation>One picture forward</translation>
    </message>
    <message>
        <source>1フレーム戻ります</source>
        <translation>One picture back</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>自動キャプチャ</source>
        <translation>Automatic Capture</translation>
    </message>
    <message>
        <source>動画を調べています...</source>
        <translation>Scanning the movie...</translation>
    </message>
    <message>
        <source>シーンが%1個になったため、%2 の位置で自動キャプチャを終了しました。</source>
        <translation>Automatic capture stopped at %2: the scene list holds %1 scenes.</translation>
    </message>
    <message>
        <source>動画を読み取れませんでした。</source>
        <translation>Could not read the movie.</translation>
    </message>
    <message>
        <source>終了します。よろしいですか？</source>
        <translation>Framora will close. Are you sure?</translation>
    </message>
    <message>
        <source>保存していないシーンがあります。終了します。よろしいですか？</source>
        <translation>Some scenes have not been saved. Framora will close. Are you sure?</translation>
    </message>
    <message>
        <source>Videoモードで作成したDVDをセットしてください</source>
        <translation>Insert a DVD made in Video mode.</translation>
    </message>
    <message>
        <source>%1を保存できませんでした。</source>
        <translation>Could not save %1.</translation>
    </message>
    <message>
        <source>%1に動画の情報を書き込めませんでした（画像は保存されています）。</source>
        <translation>Could not write the movie&apos;s details into %1 (the pictures are saved).</translation>
    </message>
    <message>
        <source>No.%1を削除します。よろしいですか？</source>
        <translation>Delete No.%1. Are you sure?</translation>
    </message>
    <message>
        <source>すべて削除します。よろしいですか？</source>
        <translation>Delete all scenes. Are you sure?</translation>
    </message>
    <message>
        <source>字幕</source>
        <translation>Subtitles</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <source>字幕を表示せず、キャプチャにも入れません。</source>
        <translation>Shows no subtitles and puts none into captures.</translation>
    </message>
    <message>
        <source>字幕 %1</source>
        <translation>Subtitles %1</translation>
    </message>
    <message>
        <source>%1 (ファイル)</source>
        <translation>%1 (file)</translation>
    </message>
    <message>
        <source>日本語</source>
        <translation>Japanese</translation>
    </message>
    <message>
        <source>英語</source>
        <translation>English</translation>
    </message>
    <message>
        <source>フランス語</source>
        <translation>French</translation>
    </message>
    <message>
        <source>ドイツ語</source>
        <translation>German</translation>
    </message>
    <message>
        <source>スペイン語</source>
        <translation>Spanish</translation>
    </message>
    <message>
        <source>イタリア語</source>
        <translation>Italian</translation>
    </message>
    <message>
        <source>中国語</source>
        <translation>Chinese</translation>
    </message>
    <message>
        <source>韓国語</source>
        <translation>Korean</translation>
    </message>
    <message>
        <source>ロシア語</source>
        <translation>Russian</translation>
    </message>
    <message>
        <source>ポルトガル語</source>
        <translation>Portuguese</translation>
    </message>
    <message>
        <source>オランダ語</source>
        <translation>Dutch</translation>
    </message>
    <message>
        <source>タイ語</source>
        <translation>Thai</translation>
    </message>
    <message>
        <source>アラビア語</source>
        <translation>Arabic</translation>
    </message>
    <message>
        <source>ビットマップ (*.bmp)|*.bmp|PNG (*.png)|*.png|JPEG (*.jpg)|*.jpg;*.jpeg|WebP (*.webp)|*.webp|TIFF (*.tif)|*.tif;*.tiff|すべてのファイル(*.*)|*.*</source>
        <translation>Bitmap (*.bmp)|*.bmp|PNG (*.png)|*.png|JPEG (*.jpg)|*.jpg;*.jpeg|WebP (*.webp)|*.webp|TIFF (*.tif)|*.tif;*.tiff|All files (*.*)|*.*</translation>
    </message>
    <message>
        <source>%1 は既にあります。上書きしますか？</source>
        <translation>%1 already exists. Overwrite it?</translation>
    </message>
    <message>
        <source>%1 はフォルダーです。動画ファイルを指定してください。</source>
        <translation>%1 is a folder. Choose a movie file.</translation>
    </message>
    <message>
        <source>%1 ほか1件は既にあります。上書きしますか？</source>
        <translation>%1 and one other file already exist. Overwrite them?</translation>
    </message>
    <message>
        <source>%1 ほか%2件は既にあります。上書きしますか？</source>
        <translation>%1 and %2 other files already exist. Overwrite them?</translation>
    </message>
    <message numerus="yes">
        <source>ファイルを保存しました（%n件）。
保存先：%1</source>
        <translation>
            <numerusform>%n file has been saved.
Folder: %1</numerusform>
            <numerusform>%n files have been saved.
Folder: %1</numerusform>
        </translation>
    </message>
    <message>
        <source>シーンを保存しています... %1 / %2</source>
        <translation>Saving scenes... %1 / %2</translation>
    </message>
    <message>
        <source>ベストショットをキャプチャ</source>
        <translation>Capture Sharpest</translation>
    </message>
    <message>
        <source>表示中の画像の前後から、同じシーンで最もシャープな画像をシーンリストに追加します。</source>
        <translation>Adds the sharpest picture around the one on screen, within the same scene, to the scene list.</translation>
    </message>
    <message>
        <source>キャプチャ(&amp;C)</source>
        <translation>&amp;Capture</translation>
    </message>
    <message>
        <source>範囲</source>
        <translation>Range</translation>
    </message>
    <message>
        <source>±%1 秒</source>
        <translation>±%1 s</translation>
    </message>
    <message>
        <source>移動(&amp;M)</source>
        <translation>&amp;Move</translation>
    </message>
    <message>
        <source>指定した時刻へ移動...(&amp;G)</source>
        <translation>&amp;Go to Time...</translation>
    </message>
    <message>
        <source>移動先の時刻またはフレーム番号:
01:23:45.678（時:分:秒）、01:23（分:秒）、83.5s（秒）、#2087（フレーム番号）</source>
        <translation>Time or picture number to go to:
01:23:45.678 (hours:minutes:seconds), 01:23 (minutes:seconds), 83.5s (seconds), #2087 (picture number)</translation>
    </message>
    <message>
        <source>「%1」は時刻としても、フレーム番号としても読めません。
次のどれかの形で入力してください: 01:23:45.678（時:分:秒.ミリ秒）、01:23（分:秒）、83.5s（秒）、#2087（フレーム番号）。</source>
        <translation>&quot;%1&quot; is neither a time nor a picture number.
Type one of these: 01:23:45.678 (hours:minutes:seconds.milliseconds), 01:23 (minutes:seconds), 83.5s (seconds), #2087 (picture number).</translation>
    </message>
    <message>
        <source>この動画はフレームレートが分からないため、フレーム番号では移動できません。時刻で入力してください。</source>
        <translation>This movie states no frame rate, so it cannot be entered by picture number. Type a time instead.</translation>
    </message>
    <message>
        <source>ヘルプを開くブラウザーがありません。利用の手引きはここにあります:
%1</source>
        <translation>No browser is there to open the help. The user&apos;s guide is here:
%1</translation>
    </message>
    <message>
        <source>利用の手引きが見つかりません。インストールされていれば、ここにあります:
%1</source>
        <translation>The user&apos;s guide is not there. When it is installed, it is here:
%1</translation>
    </message>
</context>
<context>
    <name>TfrmImageBrowser</name>
    <message>
        <source>プレビュー作成中...</source>
        <translation>Making preview...</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>サイズ</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>種類</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>更新日時</source>
        <translation>Modified</translation>
    </message>
</context>
</TS>
