#!/usr/bin/perl
# A client of the trawlnest service built by SOAP::Lite from the service description alone.
# usage: soaplite_client.pl WSDL_URL USER PASSWORD NAME SEED_FOLDER_URL WORD
# Prints one line per step; the test compares them.
use strict;
use warnings;
use SOAP::Lite;
use LWP::UserAgent;
use HTTP::Request;

my ($wsdl_url, $user, $password, $name, $seed, $word) = @ARGV;
{
    no warnings 'once';
    *SOAP::Transport::HTTP::Client::get_basic_credentials = sub { return ($user => $password) };
}

# The description, fetched with the same credentials.
my $request = HTTP::Request->new(GET => $wsdl_url);
$request->authorization_basic($user, $password);
my $answer = LWP::UserAgent->new->request($request);
die "wsdl: ", $answer->status_line, "\n" unless $answer->is_success;
my $wsdl = $answer->decoded_content;
(my $file = "/tmp/soaplite-$$.wsdl");
open(my $fh, '>', $file) or die "$file: $!\n";
print $fh $wsdl;
close $fh;

# SOAP::Lite's stubs hand each argument to the serializer method named after the type the
# description gives it, and its reader needs one for each simple type it meets; it has
# neither for the types a description declares. Each declared type gets the plain ones: a
# struct or list goes out as the stub built it, an enumeration is read as its token.
while ($wsdl =~ /<xsd:(simpleType|complexType) name="(\w+)">/g) {
    my ($kind, $type) = ($1, $2);
    no strict 'refs';
    *{"SOAP::Serializer::as_$type"} = sub {
        my ($self, $value, $name, $qname, $attr) = @_;
        return [$name, {%{$attr || {}}}, $value];
    };
    *{"SOAP::Deserializer::as_$type"} = sub { $_[1] } if $kind eq 'simpleType';
}

my $service = SOAP::Lite->service("file:$file");
unlink $file;
$service->want_som(1);
sub call {
    my ($method, @args) = @_;
    my $som = $service->$method(@args);
    die "$method: " . $som->faultstring . "\n" if $som->fault;
    return $som;
}
# Arguments as Perl data: a hash is a struct, an array a list; the stubs give each argument
# its name and type from the description.
sub member {
    my ($name, $value) = @_;
    return $value->name($name) if UNIVERSAL::isa($value => 'SOAP::Data');
    return SOAP::Data->name($name => struct($value));
}
sub struct {
    my ($value) = @_;
    return \SOAP::Data->value(map { member($_ => $value->{$_}) } sort keys %$value)
        if ref $value eq 'HASH';
    return [map { struct($_) } @$value] if ref $value eq 'ARRAY';
    return $value;
}
sub false { SOAP::Data->type(boolean => 'false') }

(my $folder = $seed) =~ s/([\$()*+.?\[\\\]^{|}])/\\$1/g;
my $source = call('AddSource', struct({
    Name => $name, Description => 'made by SOAP::Lite', Seeds => [$seed],
    IncludeFilters => ["^$folder.*\$"], CheckRobotsTxt => false(), HasSideMetadata => false(),
    DepthLimit => 0, Type => 'AUTH_NONE',
    CookieParams => {Url => '', Action => 'GET', Freshness => 0}}))->result;
print "source $source->{Source} $source->{Configuration}{Type} magic $source->{Magic}\n";

my $archive = call('AddArchive', struct({
    Name => $name, Historicize => false(), AdministrativeContact => '',
    Source => $source->{Source}, Auth => 0, SchedulingFrequency => 'DISABLED',
    SchedulingAttribute => 0, AccessTime => 0, PagesLimit => 0, GarbageLimit => 0}))->result;
my $arcid = $archive->{Archive};
print "archive $arcid $archive->{Configuration}{SchedulingFrequency} magic $archive->{Magic}\n";

my $info = call('StartCrawl', $arcid)->result;
for (1 .. 240) {
    last if !$info->{Crawling} || $info->{Crawling} eq 'false';
    select(undef, undef, undef, 0.25);
    $info = call('GetArchiveInfo', $arcid)->result;
}
print "crawled documents $info->{Documents}\n";

my $status = call('GetStatus');
my @rows = @{$status->paramsout ? ($status->paramsout)[0] : []};
print "status ", $status->result, " rows ", scalar(@rows), " ", $rows[0]{Key}, "\n";

my %found;
for my $kind (qw(Source Archive Collection Watch Index)) {
    my $list = call("Enum${kind}Configurations")->result || [];
    $list = [$list] if ref $list eq 'HASH';
    my $own = grep {
        ($_->{Configuration} && $_->{Configuration}{Name} || $_->{Name} || '') eq $name
    } @$list;
    print "enum $kind ", scalar(@$list), " own $own\n";
}

my $som = call('Query', struct({
    Archives => [$arcid], FirstDoc => 0, LastDoc => 9, MinTime => 0, MaxTime => 0,
    Info => 'INFO_CONTEXT', View => 'VIEW_PUBLISHED', Sort => 'SORT_STANDARD',
    Parser => 'NETPARSER', QueryString => $word}));
my $results = $som->result || [];
$results = [$results] if ref $results eq 'HASH';
print "search ", ($som->paramsout)[0], " ", join(' ', map { $_->{Url} } @$results), "\n";
