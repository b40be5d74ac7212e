// The built-in help text: a combined readme and help page in Japanese, built
// once from the tool's fixed values so that they are written in one place.
#include "ui/help_text.h"

#include <string>

#include "config/product.h"

namespace pinemail {

namespace {

// {TOOL}, {SITE} and {URL} stand for the fixed values. Lines are written with
// LF here and carry CR LF in the result; no line may exceed 88 bytes in
// Shift-JIS (44 full-width characters).
constexpr std::string_view kTemplate = R"(■{TOOL}　概要
　このツールは、年の変わり目に、年賀状の代わりとなる挨拶のメールを
リストに載せた全員へ一度に送るためのものです。
　コマンドラインから起動し、マウス操作をひとつもせずに最後まで送信します。
　リストファイルを渡さずに起動したとき（実行ファイルをダブルクリックした
ときなど）に表示されるこの画面が、説明書とヘルプを兼ねています。以下の説明
に沿って準備をしてから、コマンドラインで起動するか、リストファイルを実行
ファイルにドロップしてください。
　なお、画面を持たない作りにしたのは、夜中に無人で動かせるように
したかったからです。凝った機能はありませんが、そのぶん手軽です。

■動作環境
　Windows では、プロバイダーの SMTP サーバーへ直接送る方法（おすすめ。
Mail Server キーを参照）と、システムの MAPI 対応メールクライアント
（Simple MAPI、MAPI32.DLL）に任せる方法があります。この説明は付属の
Outlook Express を例にしていますが、MAPI 対応なら同じように使えます。
　実行ファイルひとつで動き、部品ライブラリ「MSMAPI32.OCX」やランタイム
ファイルを別に入れる必要はありません（古い説明書の導入手順は不要です）。
　MAPI でログに「ログインに失敗しました。」と出るときは、MAPI 対応の
メールクライアントが入っていないか、まだ設定されていません。
　Linux 版は sendmail か SMTP で送ります（Mail Server キーを参照）。

■構成
　pinemail.exe　　　実行ファイル本体です。
　pinemail.ini　　　設定ファイルです。実行ファイルと同じフォルダに
　　　　　　　　　　置きます。無いときは最初の実行で作られます。
　pinemail.log　　　ログファイルです。実行ファイルと同じフォルダに
　　　　　　　　　　作られ、実行するたびに末尾へ追記されます。
　このほかに、宛先と内容を書いたリストファイルと、文面のひな形となる
テンプレートファイルを用意してください。リストファイルは起動時の引数と
して渡し、テンプレートファイルはリストファイルの中で指定します。
　リストより前に「--home フォルダ」を書くか環境変数 PINEMAIL_HOME を
設定すると、実行ファイルのフォルダの代わりにそのフォルダを使います。
Linux でフォルダに書けないときは $XDG_CONFIG_HOME/pinemail を使います。

■設定ファイル（pinemail.ini）
　配布時の内容は次のとおりです。

[Config]
User Name=
Password=
Subst Key Word=NAME,KEN,GOBI

　変更するのは「=」の右側だけにしてください。
　User Name　　　　メールアカウントのユーザー名です。
　Password　　　　 そのパスワードです。
　Subst Key Word　 置き換えに使うキーワード名のカンマ区切り（NAME,KEN,GOBI は例）。
　ユーザー名に何を書いても、メールクライアントは既定のアカウントから
送信します。送信に使いたいアカウントを既定にしておいてください。
　パスワードは誰でも読める形で書かれ、ファイルは実行ファイルと同じ
フォルダに置くので、何人かで使うパソコンでは置き場所に気を付けてください。
　NO_INSERT_TEXT=TRUE の行を [Config] に書き足すと、各メールの
先頭に入る紹介文（このツールで送られたことを示す数行）が入らなく
なります。TRUE は大文字で、ちょうどこのとおりに書いてください。

　次のキーは省略できます。
　Mail Server　　送信方法。空欄なら Windows はメールクライアント、Linux は sendmail。
　　mapi　　　　　　　　　　メールクライアント（Simple MAPI）
　　smtp://ホスト:587　　　 SMTP サーバー（STARTTLS で暗号化）
　　smtps://ホスト:465　　　SMTP サーバー（最初から TLS で接続）
　　sendmail　　　　　　　　sendmail（sendmail:/パス でも指定可）
　　outbox:フォルダ　　　　 送らずに1通ずつ .eml ファイルに保存
　　例：Mail Server=smtp://smtp.gmail.com:587（認証は User Name と Password）
　From　　　　　 差出人です。例：From=山田 太郎 <taro@example.jp>
　　　　　　　　 空欄なら User Name を使います（メールクライアントでは無視）。
　Send Rate　　　送る速さの上限です。例：20/min（３秒に１通。/sec、/hour も可）
　Messages Per Connection　SMTP で、この通数ごとに接続し直します。
　Auth=oauth2　　OAuth 2.0 で認証します。OAuth Provider（microsoft か google）
　　　　　　　　 と OAuth Client ID を書いて「pinemail.exe /signin」を一度実行します。
　Password Command　出力の１行目がパスワード（oauth2 ではトークン）になるコマンド。

□キーワードの置き換え
　テンプレートの本文中に、キーワード名を % で囲んで書いておくと（%NAME%
など）、リストの各行の４番目以降の項目の値に置き換わります。Subst Key Word
に並べた順に、１番目のキーワードには４番目の項目が、２番目には５番目の項目
が、というように一対一で対応します。値が足りないキーワードは空になります。

　例）テンプレートの行：%NAME%さん、%KEN%は寒い%GOBI%
　　　リストの行　　　：a@example.jp,田中様,newyear.txt,田中,北海道,っしょ
　　　置き換えた結果　：田中さん、北海道は寒いっしょ

　% の扱いには次の決まりがあります。
・キーワード名の大文字と小文字は区別します（%name% と %NAME% は別物）。
・置き換えた値（% を含んでも）はそのまま入り、二度は置き換えません。
・キーワードに当たらない「%…%」は、そのまま残ります。ただし、ぽつんと
　一つだけ書いた % は次の % と組になり、後ろのキーワードが置き換わらない
　ことがあります（「50% off %NAME%」では %NAME% は置き換わりません）。
・「%%」はそのまま残ります（空のキーワード名を並べたときだけ置き換わります）。

■テンプレートファイル
　１行目：件名です。63文字までで、長い分は切り捨てます。キーワードは置き換えません。
　２行目：空行にしておいてください（何を書いても読み飛ばします）。
　３行目以降：本文です。キーワードが置き換わります。

□カード画像・HTML・添付ファイル
　テンプレート X.txt の横に X.html（または X.htm）を置くと、HTML の本文も
UTF-8 で付けます（テキストの本文も必ず付きます）。HTML でもキーワードが置き
換わり、値の < や & は文字のまま表示されます。<img src="card.jpg"> のように
テンプレートのフォルダからの相対名で書いた画像（JPEG、PNG、GIF、WebP。
%CARD%.jpg も可）は埋め込みます。宛先ごとの添付ファイルは、値がファイル名の
キーワードを Attach Key Word に書きます（省略可。例：Attach Key Word=CARD）。
ファイルが無い、読めない、10 MiB を超える宛先には送らず、ログに理由を残し
ます。SMTP サーバーの上限（SIZE）を超えるメールはその宛先だけ失敗します。
メールクライアント（mapi）では本文はテキストだけで、画像は添付になります。

■リストファイル
　１行目には、このツール用のファイルであることを示す文字列「pinemail.exe」
を必ず入れてください（大文字と小文字は区別します）。この文字列がないと、
何も処理しません。１行目のほかの部分は自由です。
　２行目からは、１件を１行に、カンマで区切って書きます。
　　送信先アドレス,表示名,テンプレートファイル名,キーワードの値…
　キーワードの値は、Subst Key Word に並べた順に書きます。
・各行の先頭と末尾の空白は無視します（全角スペースも空白として扱います）。
・空白を取り除いた後に「#」で始まる行（コメント）と空の行は読み飛ばします。
・項目の前後の空白は取り除きません。「"」も普通の文字で、項目にカンマは入れられません。
・足りない項目は空になり、余った項目は無視します。
・値の中にキーワードを書いても、二重に置き換えられることはありません。
・アドレス、表示名が空の行や、テンプレートが読めない行は送信せず、ログに残します。
・改行は CR LF で保存してください。LF だけのリストは送信しません。

　例）
pinemail.exe 用　年賀メールのリスト
#家族
tanaka@example.jp,田中太郎,newyear.txt,田中,北海道,だべ
  sato@example.jp, 佐藤花子 ,newyear.txt,佐藤,大阪
#suzuki@example.jp,鈴木,newyear.txt

■実行方法
　設定が済んだら、リストファイルのフルパス、または実行ファイルのフォルダ
からの相対パスを引数にして実行ファイルを起動するか、リストファイルを実行
ファイルにドロップしてください。相対パス（リストやテンプレートのファイル名
だけを書いた場合も）は、実行ファイルのフォルダを基準にします。
　　例）C:\Tools\pinemail\pinemail.exe list.txt
　引数の後ろに「 /H」（空白、スラッシュ、H または h）を付けると、この画面
を表示します。終了コード：0 すべて送信（またはこの画面の表示）、1 送れな
かった宛先あり、2 途中で中止（ファイルが開けない、ログインに失敗など）。
　送れなかった宛先は、ログに「送信に失敗しました。」と理由が残ります。
　ひとことヒント：アドレス帳を CSV 形式で書き出し、テキストエディタで開く
と、カンマ区切りの項目が並んでいるのが分かります。リストファイルを作る下地
に最適です。コマンドプロンプトの for コマンドを使えば、加工も簡単です。

□中断と再開
　一時的な拒否（421 など）は間を空けて送り直し、送信者を断られた、拒否が
５分続いた、接続に３件続けて失敗したときは中断します（終了コード２）。
ログには「送信を中断しました。(理由)」の行が残ります。
　送った宛先は pinemail.journal に記録され、引数の最後に「 /resume」を
付けると、前回送った宛先は「前回の実行で送信済みです。」とログに残す
だけで、残りの宛先だけに送ります。　例）pinemail.exe list.txt /resume
　リストはファイル名で見分けます（フォルダが変わっても続きから送れます）。
記録がなければ何も送りません。送信中に電源が切れると、送っていたメール
（最大８通）が記録されず、/resume で二度送られることがあります。
　ドロップして起動すると進み具合の画面が開き、「中止」で送信中のメールの後に
止まります（終了コード２）。コマンドプロンプトでは１行で表示し、引数の最後
に「 /quiet」を付けるとどちらも表示しません。

■Outlook Express の設定
　次の四つの点に注意してください。
１．メールクライアントは起動しておかなくても構いません。
２．差出人は、いつもメールクライアントの既定のアカウントです。
３．「すぐに送信する」設定でないと、メールは送信トレイにたまったままです。
４．他のアプリケーションが代わりにメールを送ろうとしたときに警告
　　する設定だと、確認の画面が出て、無人での送信が止まります。
　これらは［ツール］－［オプション］の［送信］と［セキュリティ］タブで変えます。

■送信前の確認
　引数の最後に次のどれかを付けると（例：list.txt /check）、送る前に確かめられます。
　/check　　　　　送信のほかはすべて行います（添付、ログインとログアウトも）。
　　　　　　　　　ログには「送信前の確認です。メールは送信しません。」、送れ
　　　　　　　　　ない宛先と理由、差出人の DNS（SPF、DMARC）や携帯あての注意、
　　　　　　　　　最後に「確認を終えました。…」が残ります。
　/preview　　　　送る内容をそのまま .eml ファイルにしてホームの preview
　　　　　　　　　フォルダに書き出し、開きます（前回の .eml は消します）。
　/test アドレス　テンプレートごとに最初の宛先の１通を、件名の頭に
　　　　　　　　　「[テスト] 」を付けて、そのアドレスにだけ送ります。
　どれも送信の記録を残さず（/resume に影響しません）、終了コードは 0 全部
送れる、1 送れない宛先あり、2 始められない（ログインの失敗など）です。
　メールクライアントでは「すぐに送信する」と［全般］タブの定期的な送受信を
オフにして送信トレイにためても確かめられます（途中で接続すると送信されま
す）。outbox:フォルダ の設定でも、送らずに中身を確かめられます。

■予約送信
　引数の最後に「 /at 時刻」を付けると、その時刻に送ります。時刻は 0:00 のよう
な HH:MM（次に来るその時刻）か 2027-01-01T00:00 の形です。先に /check と同じ
確認をして、ログインの失敗などはすぐに知らせます（終了コード２）。待つ間は
残り時間を表示し、Windows はスリープしません（Linux は systemd-inhibit で起動）。
　タスクスケジューラにこのツールの実行を登録して送ることもできます。
　Daily Limit=通数（省略可）で 24 時間に送る数を抑えます。１日の目安は Gmail
約 500 通、Google Workspace 2,000 通、Outlook.com の新しいアカウント約 300 通。
上限で中断し、ログの時刻以降に /resume で続きを送れます（/at なら待ちます）。

■免責
　このツールを使ったことによって生じたいかなる問題についても、
作者は責任を負いません。ご自身の責任でお使いください。
　このツールは MIT ライセンスのもとで、自由に使い、配布できます。

-------------------------------------
{SITE}

URL : {URL}
-------------------------------------
)";

std::string BuildHelpText() {
  std::string text;
  text.reserve(kTemplate.size() * 2);
  for (std::size_t i = 0; i < kTemplate.size(); ++i) {
    const char c = kTemplate[i];
    if (c == '\n') {
      text += "\r\n";
      continue;
    }
    if (c == '{') {
      const std::string_view rest = kTemplate.substr(i);
      struct Placeholder {
        std::string_view name;
        std::string_view value;
      };
      bool replaced = false;
      for (const Placeholder& p : {Placeholder{"{TOOL}", kToolTitle},
                                   Placeholder{"{SITE}", kSiteTitle},
                                   Placeholder{"{URL}", kSiteAddress}}) {
        if (rest.starts_with(p.name)) {
          text += p.value;
          i += p.name.size() - 1;
          replaced = true;
          break;
        }
      }
      if (replaced) continue;
    }
    text += c;
  }
  return text;
}

}  // namespace

std::string_view HelpText() {
  static const std::string text = BuildHelpText();
  return text;
}

std::string HelpTextWithLfLines() {
  const std::string_view help = HelpText();
  std::string text;
  text.reserve(help.size());
  for (std::size_t i = 0; i < help.size(); ++i) {
    if (help[i] == '\r' && i + 1 < help.size() && help[i + 1] == '\n') continue;
    text += help[i];
  }
  return text;
}

}  // namespace pinemail
