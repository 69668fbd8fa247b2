// The training text of the built-in language recognizer. Each section holds ordinary running
// text of one language; the recognizer learns the letter statistics of every language from it.
#include "trawlnestd/builtin-plugins.h"

namespace lumbrake {

namespace {

// Written with LF line ends here; the stored text uses CR LF.
const char* const training_source = R"TRAINING(# Training text of the stochastic language recognizer.
#
# Lines that begin with "#" in the first column are comments and are ignored.
# The text holds one section per language. A section starts with the line
# ###BEGIN###
# followed by a line holding the language's number and its two-letter ISO 639-1
# code separated by one blank, then the sample text of the language on as many
# lines as needed, and ends with the line
# ###END###
# The recognizer counts the letter sequences of every sample and later compares
# the sequences of a document with them to tell its most likely language.
# Samples should be ordinary running text of a few kilobytes each.
#
# English
###BEGIN###
1 en
The library opens at nine in the morning and closes at six in the evening on every
weekday. On Saturdays it is open until one o'clock, and on Sundays and public holidays
it stays closed. Members may borrow up to ten books at a time for a period of three
weeks, and they can renew them twice unless another reader has asked for the same title.
When the weather was fine we used to walk along the river to the old mill, where the
water still turns the great wooden wheel. My grandfather told us that his own father had
worked there as a boy, carrying sacks of flour to the carts that waited in the yard.
He said that the work was hard, but that the men sang while they worked and that
nobody ever went home hungry.
The committee has considered the report and would like to thank everyone who took part
in the survey. Most of the people who answered said that they were satisfied with the
service, although many of them would prefer shorter waiting times and clearer
information about the opening hours. We will therefore publish a new timetable next
month and train our staff to answer questions by telephone as well as by letter.
It is often said that a good book is a friend who never leaves you. Whether you read for
pleasure, for study or for work, the habit of reading will help you to understand the
world and the people around you. Children who are read to at home learn to speak and
write more easily, and they usually enjoy school more than those who are not.
The new road will connect the northern villages with the market town and should reduce
the journey by almost half an hour. Work is expected to begin in the spring and to be
finished before the end of next year, provided that the weather allows it.
###END###
# Italian
###BEGIN###
2 it
La biblioteca apre alle nove del mattino e chiude alle sei di sera in tutti i giorni
feriali. Il sabato resta aperta fino all'una, mentre la domenica e nei giorni festivi
rimane chiusa. I soci possono prendere in prestito fino a dieci libri alla volta per un
periodo di tre settimane e possono rinnovarli due volte, a meno che un altro lettore non
abbia chiesto lo stesso titolo.
Quando il tempo era bello andavamo a passeggiare lungo il fiume fino al vecchio mulino,
dove l'acqua fa ancora girare la grande ruota di legno. Mio nonno ci raccontava che suo
padre vi aveva lavorato da ragazzo, portando i sacchi di farina ai carri che aspettavano
nel cortile. Diceva che il lavoro era duro, ma che gli uomini cantavano mentre
lavoravano e che nessuno tornava mai a casa con la fame.
Il comitato ha esaminato la relazione e desidera ringraziare tutti coloro che hanno
partecipato all'indagine. La maggior parte delle persone che hanno risposto si è detta
soddisfatta del servizio, anche se molti preferirebbero tempi di attesa più brevi e
informazioni più chiare sugli orari di apertura. Pubblicheremo quindi un nuovo orario il
mese prossimo e prepareremo il nostro personale a rispondere alle domande anche per
telefono.
Si dice spesso che un buon libro sia un amico che non ti abbandona mai. Che si legga per
piacere, per studio o per lavoro, l'abitudine alla lettura aiuta a capire il mondo e le
persone che ci circondano. I bambini ai quali si legge a casa imparano a parlare e a
scrivere con più facilità e di solito frequentano la scuola più volentieri.
La nuova strada collegherà i paesi del nord con la città del mercato e dovrebbe ridurre
il viaggio di quasi mezz'ora. I lavori dovrebbero cominciare in primavera ed essere
terminati prima della fine del prossimo anno, se il tempo lo permetterà.
###END###
# French
###BEGIN###
3 fr
La bibliothèque ouvre à neuf heures du matin et ferme à six heures du soir tous les jours
de la semaine. Le samedi, elle reste ouverte jusqu'à une heure, et elle est fermée le
dimanche et les jours fériés. Les membres peuvent emprunter jusqu'à dix livres à la fois
pour une durée de trois semaines, et ils peuvent les renouveler deux fois, sauf si un
autre lecteur a demandé le même titre.
Quand il faisait beau, nous allions nous promener le long de la rivière jusqu'au vieux
moulin, où l'eau fait encore tourner la grande roue de bois. Mon grand-père nous
racontait que son propre père y avait travaillé quand il était enfant, en portant des
sacs de farine jusqu'aux charrettes qui attendaient dans la cour. Il disait que le
travail était dur, mais que les hommes chantaient en travaillant et que personne ne
rentrait jamais chez lui le ventre vide.
Le comité a examiné le rapport et tient à remercier toutes les personnes qui ont
participé à l'enquête. La plupart de ceux qui ont répondu se sont déclarés satisfaits du
service, même si beaucoup d'entre eux souhaiteraient des délais d'attente plus courts et
des informations plus claires sur les heures d'ouverture. Nous publierons donc un nouvel
horaire le mois prochain et nous formerons notre personnel à répondre aux questions par
téléphone comme par courrier.
On dit souvent qu'un bon livre est un ami qui ne vous quitte jamais. Que l'on lise pour
le plaisir, pour les études ou pour le travail, l'habitude de la lecture aide à
comprendre le monde et les gens qui nous entourent. Les enfants à qui l'on fait la
lecture à la maison apprennent plus facilement à parler et à écrire.
La nouvelle route reliera les villages du nord à la ville du marché et devrait réduire
le trajet de presque une demi-heure. Les travaux devraient commencer au printemps et se
terminer avant la fin de l'année prochaine, si le temps le permet.
###END###
# German
###BEGIN###
4 de
Die Bibliothek öffnet an allen Werktagen um neun Uhr morgens und schließt um sechs Uhr
abends. Am Samstag ist sie bis ein Uhr geöffnet, an Sonntagen und Feiertagen bleibt sie
geschlossen. Mitglieder dürfen bis zu zehn Bücher gleichzeitig für drei Wochen ausleihen
und sie zweimal verlängern, sofern nicht ein anderer Leser denselben Titel bestellt hat.
Wenn das Wetter schön war, gingen wir am Fluss entlang bis zur alten Mühle, wo das Wasser
noch immer das große hölzerne Rad dreht. Mein Großvater erzählte uns, dass sein eigener
Vater dort als Junge gearbeitet und Mehlsäcke zu den Wagen getragen habe, die im Hof
warteten. Er sagte, die Arbeit sei schwer gewesen, aber die Männer hätten bei der Arbeit
gesungen, und niemand sei jemals hungrig nach Hause gegangen.
Der Ausschuss hat den Bericht geprüft und möchte allen danken, die an der Umfrage
teilgenommen haben. Die meisten Menschen, die geantwortet haben, waren mit dem Dienst
zufrieden, obwohl sich viele von ihnen kürzere Wartezeiten und klarere Angaben zu den
Öffnungszeiten wünschen. Wir werden deshalb im nächsten Monat einen neuen Fahrplan
veröffentlichen und unsere Mitarbeiter darin schulen, Fragen auch am Telefon zu
beantworten.
Man sagt oft, ein gutes Buch sei ein Freund, der einen nie verlässt. Ob man zum
Vergnügen, zum Studium oder für die Arbeit liest, die Gewohnheit des Lesens hilft, die
Welt und die Menschen um uns herum zu verstehen. Kinder, denen zu Hause vorgelesen wird,
lernen leichter sprechen und schreiben und gehen meist lieber zur Schule.
Die neue Straße wird die Dörfer im Norden mit der Marktstadt verbinden und die Fahrt um
fast eine halbe Stunde verkürzen. Die Bauarbeiten sollen im Frühjahr beginnen und vor
dem Ende des nächsten Jahres abgeschlossen sein, wenn das Wetter es zulässt.
###END###
# Spanish
###BEGIN###
5 es
La biblioteca abre a las nueve de la mañana y cierra a las seis de la tarde todos los
días laborables. Los sábados está abierta hasta la una, y los domingos y días festivos
permanece cerrada. Los socios pueden llevarse en préstamo hasta diez libros a la vez
durante tres semanas y pueden renovarlos dos veces, salvo que otro lector haya pedido el
mismo título.
Cuando hacía buen tiempo paseábamos a lo largo del río hasta el viejo molino, donde el
agua todavía hace girar la gran rueda de madera. Mi abuelo nos contaba que su propio
padre había trabajado allí de niño, llevando sacos de harina a los carros que esperaban
en el patio. Decía que el trabajo era duro, pero que los hombres cantaban mientras
trabajaban y que nadie volvía nunca a casa con hambre.
El comité ha estudiado el informe y quiere dar las gracias a todas las personas que
participaron en la encuesta. La mayoría de quienes respondieron se mostraron satisfechos
con el servicio, aunque muchos preferirían tiempos de espera más cortos y una
información más clara sobre el horario de apertura. Por eso publicaremos un nuevo horario
el mes que viene y prepararemos a nuestro personal para contestar también por teléfono.
Se dice a menudo que un buen libro es un amigo que nunca te abandona. Tanto si se lee
por placer como por estudio o por trabajo, la costumbre de leer ayuda a comprender el
mundo y a las personas que nos rodean. Los niños a quienes se les lee en casa aprenden a
hablar y a escribir con más facilidad y suelen disfrutar más de la escuela.
La nueva carretera unirá los pueblos del norte con la ciudad del mercado y debería
acortar el viaje en casi media hora. Se espera que las obras empiecen en primavera y que
terminen antes del final del año próximo, si el tiempo lo permite.
###END###
# Portuguese
###BEGIN###
6 pt
A biblioteca abre às nove horas da manhã e fecha às seis da tarde em todos os dias
úteis. Aos sábados está aberta até à uma hora, e aos domingos e feriados permanece
fechada. Os sócios podem levar emprestados até dez livros de cada vez durante três
semanas e podem renová-los duas vezes, a não ser que outro leitor tenha pedido o mesmo
título.
Quando o tempo estava bom, passeávamos ao longo do rio até ao velho moinho, onde a água
ainda faz girar a grande roda de madeira. O meu avô contava-nos que o pai dele tinha
trabalhado lá quando era rapaz, levando sacos de farinha para as carroças que esperavam
no pátio. Dizia que o trabalho era duro, mas que os homens cantavam enquanto trabalhavam
e que ninguém voltava para casa com fome.
A comissão analisou o relatório e gostaria de agradecer a todos os que participaram no
inquérito. A maioria das pessoas que responderam disse estar satisfeita com o serviço,
embora muitas preferissem tempos de espera mais curtos e informações mais claras sobre
o horário de funcionamento. Por isso vamos publicar um novo horário no próximo mês e
preparar os nossos funcionários para responderem também às perguntas pelo telefone.
Diz-se muitas vezes que um bom livro é um amigo que nunca nos abandona. Quer se leia
por prazer, para estudar ou por trabalho, o hábito da leitura ajuda a compreender o
mundo e as pessoas que nos rodeiam. As crianças a quem se lê em casa aprendem a falar e
a escrever com mais facilidade e costumam gostar mais da escola.
A nova estrada vai ligar as aldeias do norte à vila do mercado e deverá encurtar a
viagem em quase meia hora. As obras deverão começar na primavera e ficar concluídas
antes do fim do próximo ano, se o tempo o permitir.
###END###
# Danish
###BEGIN###
7 da
Biblioteket åbner klokken ni om morgenen og lukker klokken seks om aftenen på alle
hverdage. Om lørdagen har det åbent til klokken et, og på søndage og helligdage er det
lukket. Medlemmer må låne op til ti bøger ad gangen i tre uger, og de kan forny lånet to
gange, medmindre en anden læser har bestilt den samme titel.
Når vejret var godt, gik vi langs åen hen til den gamle mølle, hvor vandet stadig driver
det store træhjul rundt. Min bedstefar fortalte os, at hans egen far havde arbejdet der
som dreng og båret melsække ud til vognene, der ventede i gården. Han sagde, at arbejdet
var hårdt, men at mændene sang, mens de arbejdede, og at ingen nogensinde gik sultne
hjem.
Udvalget har gennemgået rapporten og vil gerne takke alle, der deltog i undersøgelsen.
De fleste af dem, der svarede, sagde, at de var tilfredse med tjenesten, selv om mange
af dem gerne ville have kortere ventetid og tydeligere oplysninger om åbningstiderne. Vi
vil derfor offentliggøre en ny køreplan i næste måned og lære vores medarbejdere at
besvare spørgsmål i telefonen.
Man siger tit, at en god bog er en ven, der aldrig forlader en. Uanset om man læser for
fornøjelsens skyld, for at studere eller i forbindelse med arbejdet, hjælper vanen med
at læse os til at forstå verden og menneskene omkring os. Børn, der får læst højt
derhjemme, lærer lettere at tale og skrive og er som regel gladere for at gå i skole.
Den nye vej skal forbinde landsbyerne mod nord med købstaden og vil gøre turen næsten en
halv time kortere. Arbejdet ventes at begynde til foråret og at være færdigt inden
udgangen af næste år, hvis vejret tillader det.
###END###
# Dutch
###BEGIN###
8 nl
De bibliotheek gaat op alle werkdagen om negen uur 's ochtends open en sluit om zes uur
's avonds. Op zaterdag is zij open tot één uur, op zondagen en feestdagen blijft zij
gesloten. Leden mogen tot tien boeken tegelijk lenen voor een periode van drie weken en
mogen die twee keer verlengen, tenzij een andere lezer om dezelfde titel heeft gevraagd.
Als het mooi weer was, wandelden we langs de rivier naar de oude molen, waar het water
nog steeds het grote houten rad laat draaien. Mijn grootvader vertelde ons dat zijn
eigen vader daar als jongen had gewerkt en zakken meel naar de karren had gedragen die
op het erf stonden te wachten. Hij zei dat het werk zwaar was, maar dat de mannen zongen
onder het werk en dat niemand ooit met honger naar huis ging.
De commissie heeft het verslag bestudeerd en wil iedereen bedanken die aan het onderzoek
heeft meegedaan. De meeste mensen die antwoordden, zeiden tevreden te zijn over de
dienstverlening, hoewel velen van hen liever kortere wachttijden en duidelijkere
informatie over de openingstijden zouden zien. Wij zullen daarom volgende maand een
nieuwe dienstregeling uitbrengen en ons personeel leren om vragen ook telefonisch te
beantwoorden.
Men zegt vaak dat een goed boek een vriend is die je nooit in de steek laat. Of je nu
leest voor je plezier, voor je studie of voor je werk, de gewoonte om te lezen helpt je
de wereld en de mensen om je heen te begrijpen. Kinderen die thuis worden voorgelezen,
leren gemakkelijker spreken en schrijven en gaan meestal liever naar school.
De nieuwe weg zal de dorpen in het noorden verbinden met de marktstad en de reis met
bijna een half uur verkorten. Naar verwachting begint het werk in het voorjaar en is het
voor het einde van volgend jaar klaar, als het weer meezit.
###END###
# Icelandic
###BEGIN###
9 is
Bókasafnið er opnað klukkan níu á morgnana og lokað klukkan sex á kvöldin alla virka
daga. Á laugardögum er opið til klukkan eitt, en á sunnudögum og helgidögum er lokað.
Félagar mega fá lánaðar allt að tíu bækur í einu í þrjár vikur og geta endurnýjað lánið
tvisvar, nema annar lesandi hafi beðið um sama titil.
Þegar veðrið var gott gengum við meðfram ánni að gömlu myllunni, þar sem vatnið snýr
enn stóra trjáhjólinu. Afi minn sagði okkur að faðir hans hefði unnið þar sem drengur
og borið mjölpoka að vögnunum sem biðu í hlaðinu. Hann sagði að vinnan hefði verið
erfið, en að mennirnir hefðu sungið við vinnuna og að enginn hefði nokkurn tíma farið
svangur heim.
Nefndin hefur farið yfir skýrsluna og vill þakka öllum sem tóku þátt í könnuninni.
Flestir sem svöruðu sögðust vera ánægðir með þjónustuna, þótt margir þeirra vildu
styttri biðtíma og skýrari upplýsingar um afgreiðslutímann. Við munum því gefa út nýja
tímaáætlun í næsta mánuði og þjálfa starfsfólkið til að svara spurningum í síma.
Oft er sagt að góð bók sé vinur sem aldrei yfirgefur mann. Hvort sem maður les sér til
ánægju, við nám eða í starfi hjálpar lestrarvenjan manni að skilja heiminn og fólkið í
kringum sig. Börn sem lesið er fyrir heima læra auðveldar að tala og skrifa og hafa
yfirleitt meira gaman af skólanum.
Nýi vegurinn mun tengja þorpin fyrir norðan við kaupstaðinn og stytta ferðina um nærri
hálfa klukkustund. Gert er ráð fyrir að framkvæmdir hefjist í vor og þeim ljúki fyrir
lok næsta árs, ef veður leyfir.
###END###
# Norwegian
###BEGIN###
10 no
Biblioteket åpner klokken ni om morgenen og stenger klokken seks om kvelden alle
hverdager. På lørdager er det åpent til klokken ett, og på søndager og helligdager er
det stengt. Medlemmer kan låne inntil ti bøker om gangen i tre uker, og de kan fornye
lånet to ganger, med mindre en annen leser har bestilt den samme tittelen.
Når været var fint, gikk vi langs elva bort til den gamle kverna, der vannet fremdeles
driver det store trehjulet rundt. Bestefaren min fortalte oss at hans egen far hadde
arbeidet der som gutt og båret melsekker ut til vognene som ventet på tunet. Han sa at
arbeidet var tungt, men at mennene sang mens de arbeidet, og at ingen noensinne gikk
sultne hjem.
Utvalget har gått gjennom rapporten og vil gjerne takke alle som deltok i
undersøkelsen. De fleste som svarte, sa at de var fornøyde med tjenesten, selv om mange
av dem ønsket seg kortere ventetid og tydeligere opplysninger om åpningstidene. Vi vil
derfor legge fram en ny rutetabell neste måned og lære opp de ansatte til å svare på
spørsmål over telefon.
Det sies ofte at en god bok er en venn som aldri forlater deg. Enten man leser for
fornøyelsens skyld, for å studere eller i arbeidet, hjelper lesevanen oss til å forstå
verden og menneskene rundt oss. Barn som får høre høytlesning hjemme, lærer lettere å
snakke og skrive og trives som regel bedre på skolen.
Den nye veien skal knytte bygdene i nord til kjøpstaden og vil korte ned reisen med
nesten en halvtime. Arbeidet ventes å begynne til våren og å være ferdig før utgangen av
neste år, dersom været tillater det.
###END###
# Swedish
###BEGIN###
11 sv
Biblioteket öppnar klockan nio på morgonen och stänger klockan sex på kvällen alla
vardagar. På lördagar har det öppet till klockan ett, och på söndagar och helgdagar är
det stängt. Medlemmar får låna upp till tio böcker åt gången i tre veckor och kan
förnya lånet två gånger, om inte en annan läsare har beställt samma titel.
När vädret var vackert promenerade vi längs ån bort till den gamla kvarnen, där vattnet
fortfarande driver det stora trähjulet runt. Min morfar berättade för oss att hans egen
far hade arbetat där som pojke och burit mjölsäckar till vagnarna som väntade på gården.
Han sade att arbetet var tungt, men att männen sjöng medan de arbetade och att ingen
någonsin gick hungrig hem.
Kommittén har gått igenom rapporten och vill tacka alla som deltog i undersökningen. De
flesta som svarade sade att de var nöjda med tjänsten, även om många av dem hellre
skulle vilja ha kortare väntetider och tydligare upplysningar om öppettiderna. Vi kommer
därför att ge ut en ny tidtabell nästa månad och utbilda vår personal i att svara på
frågor per telefon.
Det sägs ofta att en god bok är en vän som aldrig överger en. Oavsett om man läser för
nöjes skull, för att studera eller i arbetet hjälper läsvanan oss att förstå världen och
människorna omkring oss. Barn som får höra högläsning hemma lär sig lättare att tala och
skriva och trivs oftast bättre i skolan.
Den nya vägen ska förbinda byarna i norr med marknadsstaden och förkorta resan med nästan
en halvtimme. Arbetet väntas börja under våren och vara klart före slutet av nästa år,
om vädret tillåter det.
###END###
)TRAINING";

std::string with_crlf(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') out += '\r';
        out += *p;
    }
    return out;
}

} // namespace

const std::string& language_training_text() {
    static const std::string text = with_crlf(training_source);
    return text;
}

} // namespace lumbrake
